#pragma once

#include <memory>
#include <string>
#include <vector>

#include "circuits/unitary.h"

namespace Circuit {

// Output mode i receives the light of input mode v[i]: a 1 at row i, column v[i].
class Permutation : public Unitary {
  public:
    // Throws std::invalid_argument "permutationVector is empty", or "permutationVector is not
    // a permutation" unless v holds each of 0 to v.size() - 1 exactly once.
    explicit Permutation(const std::vector<int>& permutationVector);
    Permutation(const Permutation& other);

    const std::vector<int>& getPermutationVector() const { return permutation_; }

    static void _checkPermutationVector(const std::vector<int>& permutationVector);
    // Validates, then builds the matrix.
    static Matrix _getAssociatedUnitaryMatrix(const std::vector<int>& permutationVector);

    std::shared_ptr<ACircuit> clone() const override;
    // "PERM({v0, v1, ...})".
    std::string describe() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }

  private:
    std::vector<int> permutation_;
};

}  // namespace Circuit
