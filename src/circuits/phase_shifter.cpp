#include "circuits/phase_shifter.h"

#include <cmath>
#include <complex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace Circuit {

PhaseShifter::PhaseShifter(std::shared_ptr<Symb::Parameter> phi) : ACircuit(1) {
    if (!phi) throw std::invalid_argument("Phase shifter parameter must not be empty");
    addParameter(std::move(phi));
}

PhaseShifter::PhaseShifter(double phi) : ACircuit(1) {
    addParameter(std::make_shared<Symb::Parameter>(phi));
}

PhaseShifter::PhaseShifter(const PhaseShifter& other) : ACircuit(1) {
    addParameter(std::make_shared<Symb::Parameter>(*other.phi()));
}

std::shared_ptr<ACircuit> PhaseShifter::clone() const {
    return std::make_shared<PhaseShifter>(*this);
}

Matrix PhaseShifter::unitary() const {
    const double phi = parameters_.at(0)->value();
    Matrix u(1, 1);
    u(0, 0) = std::complex<double>(std::cos(phi), std::sin(phi));
    return u;
}

std::string PhaseShifter::describe() const {
    std::ostringstream os;
    os << "PhaseShifter(" << *parameters_.at(0) << ")";
    return os.str();
}

}  // namespace Circuit
