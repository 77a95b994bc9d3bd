#include "circuits/barrier.h"

#include <sstream>

namespace Circuit {

Barrier::Barrier(std::uint32_t m, bool visible) : ACircuit(m), visible_(visible) {}

Barrier::Barrier(const Barrier& other) : Barrier(other.m, other.isVisible()) {}

std::shared_ptr<ACircuit> Barrier::clone() const {
    return std::make_shared<Barrier>(*this);
}

Matrix Barrier::unitary() const {
    return Matrix::Identity(m, m);
}

std::string Barrier::describe() const {
    std::ostringstream os;
    os << "Barrier(" << m << ", " << (visible_ ? 1 : 0) << ")";
    return os.str();
}

}  // namespace Circuit
