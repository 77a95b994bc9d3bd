#pragma once

#include <pybind11/complex.h>
#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include "python/bindings.h"

namespace Python {

// A probability back-end class with the methods every one of them has, in their registration
// order; `before_mask` adds the methods that come between `distribution` and `set_mask`, and the
// caller adds the methods of its own to the returned class.
template <typename Backend_t, typename BeforeMask_t>
py::class_<Backend_t, py::smart_holder> bind_prob_backend(py::module_& m, const char* name,
                                                          BeforeMask_t before_mask) {
    py::class_<Backend_t, py::smart_holder> cls(m, name);
    cls.def(py::init<>())
        .def("__copy__", [](Backend_t const& self) { return Backend_t(self); })
        .def("__deepcopy__", [](Backend_t const& self, py::dict) { return Backend_t(self); })
        .def("set_unitary", &Backend_t::setUnitary, py::arg("u"))
        .def("set_input_state", &Backend_t::setInputState, py::arg("fockstate"))
        .def("all_amplitudes", &Backend_t::getAmplitudes)
        .def("all_probabilities", &Backend_t::computeProbabilities)
        .def("distribution", &Backend_t::computeProbabilityDistribution);
    before_mask(cls);
    return cls.def("set_mask", &Backend_t::setMask, py::arg("mask"));
}

template <typename Backend_t>
py::class_<Backend_t, py::smart_holder> bind_prob_backend(py::module_& m, const char* name) {
    return bind_prob_backend<Backend_t>(m, name, [](py::class_<Backend_t, py::smart_holder>&) {});
}

}  // namespace Python
