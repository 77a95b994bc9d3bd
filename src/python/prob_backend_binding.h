#pragma once

#include <pybind11/complex.h>
#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/polled_list.h"

namespace Python {

// Where the back-end classes differ in the methods they share: the order of registration, an
// argument name and the docstrings (none by default).
struct ProbBackendLayout {
    // all_amplitudes, all_probabilities and distribution before set_unitary and set_input_state.
    bool queries_first = false;
    const char* input_state_arg = "fockstate";
    const char* all_amplitudes_doc = nullptr;
    const char* all_probabilities_doc = nullptr;
    const char* distribution_doc = nullptr;
    const char* set_unitary_doc = nullptr;
    const char* set_input_state_doc = nullptr;
    const char* set_mask_doc = nullptr;
};

// A probability back-end class with the methods every one of them has, in their registration
// order; `before_mask` adds the methods that come between `distribution` and `set_mask`, and the
// caller adds the methods of its own to the returned class.
template <typename Backend_t, typename BeforeMask_t>
py::class_<Backend_t, py::smart_holder> bind_prob_backend(py::module_& m, const char* name,
                                                          ProbBackendLayout const& layout,
                                                          BeforeMask_t before_mask) {
    py::class_<Backend_t, py::smart_holder> cls(m, name);
    cls.def(py::init<>())
        .def("__copy__", [](Backend_t const& self) { return Backend_t(self); })
        .def("__deepcopy__", [](Backend_t const& self, py::dict) { return Backend_t(self); });
    auto setters = [&] {
        cls.def("set_unitary", &Backend_t::setUnitary, py::arg("u"), layout.set_unitary_doc)
            .def("set_input_state", &Backend_t::setInputState, py::arg(layout.input_state_arg),
                 layout.set_input_state_doc);
    };
    auto queries = [&] {
        cls.def(
               "all_amplitudes", [](Backend_t& self) { return polled_list(self.getAmplitudes()); },
               layout.all_amplitudes_doc, CatchSigint())
            .def(
                "all_probabilities",
                [](Backend_t& self) { return polled_list(self.computeProbabilities()); },
                layout.all_probabilities_doc, CatchSigint())
            .def("distribution", &Backend_t::computeProbabilityDistribution,
                 layout.distribution_doc, CatchSigint());
    };
    if (layout.queries_first) {
        queries();
        setters();
    } else {
        setters();
        queries();
    }
    before_mask(cls);
    cls.def("set_mask", &Backend_t::setMask, py::arg("mask"), layout.set_mask_doc);
    return cls;
}

template <typename Backend_t>
py::class_<Backend_t, py::smart_holder> bind_prob_backend(py::module_& m, const char* name,
                                                          ProbBackendLayout const& layout = {}) {
    return bind_prob_backend<Backend_t>(m, name, layout,
                                        [](py::class_<Backend_t, py::smart_holder>&) {});
}

}  // namespace Python
