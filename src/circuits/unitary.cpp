#include "circuits/unitary.h"

#include <cstdint>
#include <sstream>
#include <stdexcept>

#include "runtime/config.h"

namespace Circuit {

namespace {

std::uint32_t mode_count(const Matrix& u, bool use_polarization) {
    const auto rows = static_cast<std::uint32_t>(u.rows());
    return use_polarization ? rows / 2 : rows;
}

}  // namespace

Unitary::Unitary(const Matrix& u, const std::string& name, bool use_polarization)
    : ACircuit(mode_count(u, use_polarization)),
      u_(u),
      name_(name),
      use_polarization_(use_polarization) {
    if (u_.size() == 0 || !is_unitary(u_, config.unitary_check_precision))
        throw std::invalid_argument("Matrix must be unitary and not null");
    if (use_polarization_ && u_.rows() % 2 != 0)
        throw std::invalid_argument("Polarization matrix should have an even number of rows/col");
}

Unitary::Unitary(const Unitary& other) : Unitary(other.u_, other.name_, other.use_polarization_) {}

Matrix Unitary::unitary() const {
    return u_;
}

std::shared_ptr<ACircuit> Unitary::clone() const {
    return std::make_shared<Unitary>(*this);
}

std::string Unitary::describe() const {
    std::ostringstream os;
    os << "Unitary(ComplexMatrix(" << u_ << "), \"" << name_ << "\", "
       << (use_polarization_ ? "true" : "false") << ")";
    return os.str();
}

}  // namespace Circuit
