#pragma once

#include <stdexcept>

#include <pybind11/pybind11.h>

namespace Python {

namespace py = pybind11;

// A Python slice adjusted to m modes by the interpreter's own rules.
struct SliceBounds {
    int start, stop, step;
};

inline SliceBounds adjust(py::slice const& slice, int m) {
    py::ssize_t start, stop, step, length;
    if (!slice.compute(m, &start, &stop, &step, &length)) throw py::error_already_set();
    return {static_cast<int>(start), static_cast<int>(stop), static_cast<int>(step)};
}

// The slice of a range replacement, which only takes consecutive modes.
inline SliceBounds adjust_unit_step(py::slice const& slice, int m) {
    const SliceBounds bounds = adjust(slice, m);
    if (bounds.step != 1) throw std::runtime_error("set_slice does not support step!=1");
    return bounds;
}

}  // namespace Python
