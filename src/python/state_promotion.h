#pragma once

#include <type_traits>

#include <pybind11/pybind11.h>

#include "python/slice_bounds.h"
#include "states/any_fs_utils.h"

// The members of the three basic-state classes that take a state of another kind: both operands
// are promoted to the richer kind, which is the kind of the result, by the rule of AnyFSUtils.
namespace Python {

namespace py = pybind11;

template <typename Self, typename Other>
AnyFSUtils::richer_t<Self, Other> promoted_product(Self const& self, Other const& other) {
    return AnyFSUtils::tensor_product(self, other);
}

// Python's s *= t: the native in-place product runs on a copy, which Python then binds to s. The
// object itself never changes: states are hashable, and one used as a dict key or a set member
// must keep its hash.
template <typename Self, typename Other>
Self product_in_place(Self const& self, Other const& other) {
    Self result(self);
    result *= other;
    return result;
}

// Only where self is already the richer kind: the result stays of self's kind.
template <typename Self, typename Other>
Self promoted_product_in_place(Self const& self, Other const& other) {
    static_assert(std::is_same_v<AnyFSUtils::richer_t<Self, Other>, Self>);
    return product_in_place(self, AnyFSUtils::as<Self>(other));
}

template <typename Self, typename Other>
AnyFSUtils::richer_t<Self, Other> promoted_merge(Self const& self, Other const& other) {
    return AnyFSUtils::merge(self, other);
}

template <typename Self, typename Other>
AnyFSUtils::richer_t<Self, Other> promoted_set_slice(Self const& self, Other const& other,
                                                     int start, int end) {
    return AnyFSUtils::set_slice(self, other, start, end);
}

// The slice is checked before any promotion.
template <typename Self, typename Other>
AnyFSUtils::richer_t<Self, Other> promoted_set_slice_at(Self const& self, py::slice const& slice,
                                                        Other const& other) {
    const SliceBounds b = adjust_unit_step(slice, self.m());
    return AnyFSUtils::set_slice(self, other, b.start, b.stop);
}

}  // namespace Python
