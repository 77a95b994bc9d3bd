#pragma once

#include <stdexcept>
#include <string>

#include <fmt/format.h>
#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

// The numpy arguments of the native kernels. A matrix argument declared as CMatrix<Ref> (Ref an
// Eigen::Ref of a row-major matrix or of a vector) is used in place when it already has the exact
// dtype, is C-contiguous and is aligned for its dtype; otherwise it is refused or, when the
// argument allows conversion, copied into a new C-contiguous array that lives until the call
// returns. Kernels that read the data through a raw pointer rely on that layout.
//
// An array that is right in all but its alignment (a view at an odd byte offset) cannot be read in
// place without undefined behaviour: an argument that is only read takes an aligned copy of it
// even where conversion is not allowed, as nobody can tell; an argument written in place refuses
// it with ValueError, since the writes would be lost in a copy. A writeable Ref is never copied
// otherwise and must be declared noconvert. WrittenInPlace says whether the native call writes
// to the array; it is false for a writeable Ref that is only read.
namespace Python {

template <typename Ref, bool WrittenInPlace = pybind11::detail::is_eigen_mutable_map<Ref>::value>
struct CMatrix {
    Ref& ref;
};

}  // namespace Python

namespace pybind11::detail {

template <typename Ref, bool WrittenInPlace>
struct type_caster<Python::CMatrix<Ref, WrittenInPlace>> {
    using Scalar = typename Ref::Scalar;
    static constexpr bool writeable_ref = is_eigen_mutable_map<Ref>::value;
    static_assert(writeable_ref || !WrittenInPlace, "a read-only Ref is never written");
    static constexpr auto name = type_caster<Ref>::name;

    bool load(handle src, bool convert) {
        if (isinstance<array_t<Scalar, array::c_style>>(src)) {
            auto a = reinterpret_borrow<array>(src);
            if (a.flags() & npy_api::NPY_ARRAY_ALIGNED_) return inner.load(src, convert);
            return load_misaligned(a);
        }
        if (!convert || writeable_ref) return false;
        auto copy = aligned_copy(src);
        return copy && inner.load(copy, false);
    }

    template <typename>
    using cast_op_type = Python::CMatrix<Ref, WrittenInPlace>;
    operator Python::CMatrix<Ref, WrittenInPlace>() { return {static_cast<Ref&>(inner)}; }

  private:
    // A new C-contiguous, aligned array of the exact dtype, or a null handle.
    static object aligned_copy(handle src) {
        constexpr int requirements = npy_api::NPY_ARRAY_ENSUREARRAY_ |
                                     npy_api::NPY_ARRAY_C_CONTIGUOUS_ |
                                     npy_api::NPY_ARRAY_ALIGNED_ | npy_api::NPY_ARRAY_FORCECAST_;
        auto copy = reinterpret_steal<object>(npy_api::get().PyArray_FromAny_(
            src.ptr(), dtype::of<Scalar>().release().ptr(), 0, 0, requirements, nullptr));
        if (!copy) PyErr_Clear();
        return copy;
    }

    // The array is refused as it would be if it were aligned: the aligned copy is checked in its
    // place, so that only an array otherwise accepted meets the alignment error.
    bool load_misaligned(array const& a) {
        if (writeable_ref && !a.writeable()) return false;
        auto copy = aligned_copy(a);
        if (!copy || !inner.load(copy, false)) return false;
        if constexpr (WrittenInPlace)
            throw std::invalid_argument(fmt::format(
                "a misaligned {} array cannot be written in place: pass an aligned array",
                std::string(str(a.dtype()))));
        return true;
    }

    type_caster<Ref> inner;
};

}  // namespace pybind11::detail
