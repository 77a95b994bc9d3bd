#include "circuits/permutation.h"

#include <cstddef>
#include <sstream>
#include <stdexcept>

namespace Circuit {

Permutation::Permutation(const std::vector<int>& permutationVector)
    : Unitary(_getAssociatedUnitaryMatrix(permutationVector), "PERM", false),
      permutation_(permutationVector) {}

Permutation::Permutation(const Permutation& other) : Permutation(other.permutation_) {}

void Permutation::_checkPermutationVector(const std::vector<int>& permutationVector) {
    if (permutationVector.empty()) throw std::invalid_argument("permutationVector is empty");
    const std::size_t n = permutationVector.size();
    std::vector<bool> seen(n, false);
    for (int v : permutationVector) {
        if (v < 0 || static_cast<std::size_t>(v) >= n || seen[static_cast<std::size_t>(v)])
            throw std::invalid_argument("permutationVector is not a permutation");
        seen[static_cast<std::size_t>(v)] = true;
    }
}

Matrix Permutation::_getAssociatedUnitaryMatrix(const std::vector<int>& permutationVector) {
    _checkPermutationVector(permutationVector);
    const auto n = static_cast<Eigen::Index>(permutationVector.size());
    Matrix u = Matrix::Zero(n, n);
    for (Eigen::Index i = 0; i < n; ++i) u(i, permutationVector[static_cast<std::size_t>(i)]) = 1;
    return u;
}

std::shared_ptr<ACircuit> Permutation::clone() const {
    return std::make_shared<Permutation>(*this);
}

std::string Permutation::describe() const {
    std::ostringstream os;
    os << "PERM({";
    for (std::size_t i = 0; i < permutation_.size(); ++i) os << (i ? ", " : "") << permutation_[i];
    os << "})";
    return os.str();
}

}  // namespace Circuit
