#pragma once

#include <complex>

#include <Eigen/Core>

#include "runtime/interrupt_signal_handler.h"

// The dense matrices of the library: one owning type, one read-only view, one unitarity test and
// one finiteness check.

// Rows are contiguous, so a kernel can read an n x n matrix as values packed row after row.
template <typename T>
using RowMatrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// Read-only view of a RowMatrix (data pointer, rows, columns, outer stride), the form in which the
// permanent kernels receive their input. numpy arrays are viewed in place by the bindings.
template <typename T>
using MatrixView = Eigen::Ref<const RowMatrix<T>>;

// The unitaries of the interferometers: element (j, k) carries a photon from input mode k to
// output mode j.
using Matrix = RowMatrix<std::complex<double>>;

// U†·U ≈ I: every column's squared norm within `precision` of 1 (relative to the smaller of the
// two), and every scalar product of two distinct columns at most `precision` in modulus. The
// columns are tested, so a matrix with more rows than orthonormal columns passes and one with
// more columns than rows fails; a matrix without columns passes.
// Eigen's isUnitary, written out so that Ctrl-C is seen between columns: a matrix of a thousand
// modes takes seconds.
template <typename Derived>
bool is_unitary(Eigen::MatrixBase<Derived> const& u, double precision) {
    using Real = typename Derived::RealScalar;
    const auto p = static_cast<Real>(precision);
    const typename Eigen::internal::nested_eval<Derived, 1>::type self(u.derived());
    InterruptSignalHandler::Poll poll(1);
    for (Eigen::Index i = 0; i < self.cols(); ++i) {
        poll();
        if (!Eigen::internal::isApprox(self.col(i).squaredNorm(), Real(1), p)) return false;
        for (Eigen::Index j = 0; j < i; ++j)
            if (!Eigen::internal::isMuchSmallerThan(self.col(i).dot(self.col(j)),
                                                    typename Derived::Scalar(1), p))
                return false;
    }
    return true;
}

// Refuses (std::invalid_argument) a unitary holding a NaN or an infinity, naming the first one:
// nothing computed from it means anything, and the back-ends that do not test unitarity would
// hand such values on as results.
void check_finite(Matrix const& u);
