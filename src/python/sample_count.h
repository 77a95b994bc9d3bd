#pragma once

#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <fmt/format.h>
#include <pybind11/pybind11.h>

// A number of samples held in T, passed as a Python int or an object with an integer index. Floats,
// strings, None (and negative values when T is unsigned) do not match the argument; an integer
// beyond T raises OverflowError naming the limit, where the plain conversion would only say that
// no signature matched.
namespace Python {

template <typename T>
struct SampleCount {
    T value;
};

}  // namespace Python

namespace pybind11::detail {

template <typename T>
struct type_caster<Python::SampleCount<T>> {
    static_assert(sizeof(T) < sizeof(long long), "every count of T is a long long");
    PYBIND11_TYPE_CASTER(Python::SampleCount<T>, make_caster<T>::name);

    bool load(handle src, bool convert) {
        make_caster<long long> wide;
        if (wide.load(src, convert)) {
            const long long count = wide;
            if (count < static_cast<long long>(std::numeric_limits<T>::min()))
                return out_of_range(src, false);
            if (count > static_cast<long long>(std::numeric_limits<T>::max()))
                return out_of_range(src, true);
            value.value = static_cast<T>(count);
            return true;
        }
        // An integer beyond 64 bits is still a count, only out of range.
        if (!src || PyFloat_Check(src.ptr()) || !PyIndex_Check(src.ptr())) return false;
        const auto index = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
        if (!index) {
            PyErr_Clear();
            return false;
        }
        return out_of_range(index, index > int_(0));
    }

  private:
    // Below the lower end: no match for an unsigned count (a count is never negative), and the
    // same refusal as the sampler's for a signed one.
    static bool out_of_range(handle src, bool above) {
        const std::string shown = str(src);
        if (above)
            throw std::overflow_error(
                fmt::format("The number of samples must be at most {}, not {}",
                            std::numeric_limits<T>::max(), shown));
        if constexpr (std::is_unsigned_v<T>) return false;
        throw std::invalid_argument(
            fmt::format("The number of samples must be at least 0, not {}", shown));
    }
};

}  // namespace pybind11::detail
