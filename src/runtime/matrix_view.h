#pragma once

#include <Eigen/Core>

// Read-only view of a dense row-major matrix (data pointer, rows, columns, outer stride), the
// form in which the permanent kernels receive their input. Rows are contiguous inside; numpy
// arrays are viewed in place by the bindings.
template <typename T>
using RowMatrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

template <typename T>
using MatrixView = Eigen::Ref<const RowMatrix<T>>;
