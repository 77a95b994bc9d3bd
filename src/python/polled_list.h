#pragma once

#include <cstddef>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include "runtime/interrupt_signal_handler.h"

namespace Python {

namespace py = pybind11;

// `values` as a new Python list, built inside the call's Ctrl-C scope. pybind11 converts a
// returned vector only after that scope has closed, and turning tens of millions of results
// into Python objects takes seconds in which nothing would look at Ctrl-C.
template <typename T>
py::typing::List<T> polled_list(std::vector<T> const& values) {
    py::typing::List<T> out(values.size());
    InterruptSignalHandler::Poll poll(1 << 14);
    for (std::size_t i = 0; i < values.size(); ++i) {
        poll();
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), py::cast(values[i]).release().ptr());
    }
    return out;
}

}  // namespace Python
