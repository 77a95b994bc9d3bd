#include "circuits/beam_splitter.h"

#include <cmath>
#include <complex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace Circuit {

namespace {

using cx = std::complex<double>;

struct HalfAngle {
    double c;
    double s;
};

HalfAngle half_angle(const Symb::Parameter& theta) {
    const double half = theta.value() / 2;
    return {std::cos(half), std::sin(half)};
}

cx phase(double phi) {
    return {std::cos(phi), std::sin(phi)};
}

}  // namespace

ABeamSplitter::ABeamSplitter(std::shared_ptr<Symb::Parameter> theta,
                             std::shared_ptr<Symb::Parameter> phi_tl,
                             std::shared_ptr<Symb::Parameter> phi_bl,
                             std::shared_ptr<Symb::Parameter> phi_tr,
                             std::shared_ptr<Symb::Parameter> phi_br)
    : ACircuit(2) {
    // A missing pointer would shift the others to the wrong positions.
    if (!theta || !phi_tl || !phi_bl || !phi_tr || !phi_br)
        throw std::invalid_argument("Beam splitter parameters must not be empty");
    addParameter(std::move(theta));
    addParameter(std::move(phi_tl));
    addParameter(std::move(phi_bl));
    addParameter(std::move(phi_tr));
    addParameter(std::move(phi_br));
}

ABeamSplitter::ABeamSplitter(double theta) : ACircuit(2) {
    addParameter(std::make_shared<Symb::Parameter>(theta));
    for (int i = 0; i < 4; ++i) addParameter(std::make_shared<Symb::Parameter>(0.0));
}

ABeamSplitter::ABeamSplitter(const ABeamSplitter& other) : ACircuit(2) {
    addParameter(std::make_shared<Symb::Parameter>(*other.theta()));
    for (PhaseLocation location : {TopLeft, BottomLeft, TopRight, BottomRight})
        addParameter(std::make_shared<Symb::Parameter>(*other.phi(location)));
}

Matrix ABeamSplitter::unitary() const {
    const double tl = phi(TopLeft)->value();
    const double tr = phi(TopRight)->value();
    const double bl = phi(BottomLeft)->value();
    const double br = phi(BottomRight)->value();
    Matrix u = getCoreUnitary();
    u(0, 0) *= phase(tl + tr);
    u(0, 1) *= phase(bl + tr);
    u(1, 0) *= phase(tl + br);
    u(1, 1) *= phase(bl + br);
    return u;
}

std::string ABeamSplitter::describe() const {
    std::ostringstream os;
    os << "BeamSplitter_" << convention() << "(" << *parameters_.at(0) << "," << *parameters_.at(1)
       << "," << *parameters_.at(2) << "," << *parameters_.at(3) << "," << *parameters_.at(4)
       << ")";
    return os.str();
}

std::shared_ptr<ACircuit> BeamSplitter_Rx::clone() const {
    return std::make_shared<BeamSplitter_Rx>(*this);
}

Matrix BeamSplitter_Rx::getCoreUnitary() const {
    const auto [c, s] = half_angle(*theta());
    Matrix u(2, 2);
    u << c, cx(0, s), cx(0, s), c;
    return u;
}

std::shared_ptr<ACircuit> BeamSplitter_Ry::clone() const {
    return std::make_shared<BeamSplitter_Ry>(*this);
}

Matrix BeamSplitter_Ry::getCoreUnitary() const {
    const auto [c, s] = half_angle(*theta());
    Matrix u(2, 2);
    u << c, -s, s, c;
    return u;
}

std::shared_ptr<ACircuit> BeamSplitter_H::clone() const {
    return std::make_shared<BeamSplitter_H>(*this);
}

Matrix BeamSplitter_H::getCoreUnitary() const {
    const auto [c, s] = half_angle(*theta());
    Matrix u(2, 2);
    u << c, s, s, -c;
    return u;
}

}  // namespace Circuit
