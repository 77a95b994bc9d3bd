#pragma once

#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

// The numpy arguments of the native kernels. A matrix argument declared as CMatrix<Ref> (Ref an
// Eigen::Ref of a row-major matrix) is used in place when it already has the exact dtype and is
// C-contiguous; otherwise it is refused or, when the argument allows conversion, copied into a new
// C-contiguous array that lives until the call returns. Kernels that read the data through a raw
// pointer rely on that layout. A writeable Ref must be declared noconvert: writes to a copy would
// be lost.
namespace Python {

template <typename Ref>
struct CMatrix {
    Ref& ref;
};

}  // namespace Python

namespace pybind11::detail {

template <typename Ref>
struct type_caster<Python::CMatrix<Ref>> {
    using Scalar = typename Ref::Scalar;
    static constexpr auto name = type_caster<Ref>::name;

    bool load(handle src, bool convert) {
        if (isinstance<array>(src) && (reinterpret_borrow<array>(src).flags() & array::c_style))
            return inner.load(src, convert);
        if (!convert) return false;
        auto copy = array_t<Scalar, array::c_style | array::forcecast>::ensure(src);
        return copy && inner.load(copy, false);
    }

    template <typename>
    using cast_op_type = Python::CMatrix<Ref>;
    operator Python::CMatrix<Ref>() { return {static_cast<Ref&>(inner)}; }

  private:
    type_caster<Ref> inner;
};

}  // namespace pybind11::detail
