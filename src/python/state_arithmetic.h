#pragma once

#include <complex>

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include "states/annotated_fock_state.h"
#include "states/basic_state.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"
#include "states/state_vector.h"

// The members of the three basic-state classes that give a StateVector. Each state keeps its own
// kind inside the vector.
namespace Python {

namespace py = pybind11;

// Products with a number: complex, float, int, each as __mul__ then __rmul__.
template <typename State, typename Class>
Class& def_scalar_products(Class& cls) {
    using cd = std::complex<double>;
    cls.def(
           "__mul__", [](State const& s, cd z) { return BasicState(s) * z; }, py::is_operator())
        .def(
            "__rmul__", [](State const& s, cd z) { return z * BasicState(s); }, py::is_operator())
        .def(
            "__mul__", [](State const& s, double x) { return BasicState(s) * cd(x, 0); },
            py::is_operator())
        .def(
            "__rmul__", [](State const& s, double x) { return cd(x, 0) * BasicState(s); },
            py::is_operator())
        .def(
            "__mul__", [](State const& s, int k) { return BasicState(s) * cd(k, 0); },
            py::is_operator())
        .def(
            "__rmul__", [](State const& s, int k) { return cd(k, 0) * BasicState(s); },
            py::is_operator());
    return cls;
}

// Sums and differences with each kind (FockState, NoisyFockState, AnnotatedFockState), then the
// negation.
template <typename State, typename Class>
Class& def_sums(Class& cls) {
    const auto add = [](State const& a, auto const& b) { return BasicState(a) + BasicState(b); };
    const auto sub = [](State const& a, auto const& b) { return BasicState(a) - BasicState(b); };
    cls.def(
           "__add__", [add](State const& a, FockState const& b) { return add(a, b); },
           py::is_operator())
        .def(
            "__add__", [add](State const& a, NoisyFockState const& b) { return add(a, b); },
            py::is_operator())
        .def(
            "__add__", [add](State const& a, AnnotatedFockState const& b) { return add(a, b); },
            py::is_operator())
        .def(
            "__sub__", [sub](State const& a, FockState const& b) { return sub(a, b); },
            py::is_operator())
        .def(
            "__sub__", [sub](State const& a, NoisyFockState const& b) { return sub(a, b); },
            py::is_operator())
        .def(
            "__sub__", [sub](State const& a, AnnotatedFockState const& b) { return sub(a, b); },
            py::is_operator())
        .def(
            "__neg__", [](State const& s) { return -BasicState(s); }, py::is_operator());
    return cls;
}

}  // namespace Python
