#pragma once

#include <pybind11/pybind11.h>

namespace Python {

namespace py = pybind11;

// An instance made by `cls.__new__(cls)` has no value, and pybind11 would hand its methods raw,
// unconstructed storage. A type marked here refuses that storage instead: such an instance raises
// TypeError on use.
void refuse_uninitialised_instances();  // every type registered so far
void refuse_uninitialised_instances(py::handle type);

// The iterator types are registered on the first call that makes one, so they are marked there.
inline py::iterator refusing_uninitialised(py::iterator it) {
    refuse_uninitialised_instances(py::type::handle_of(it));
    return it;
}

}  // namespace Python
