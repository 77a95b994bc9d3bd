#include <complex>
#include <cstddef>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/opaque_types.h"
#include "python/snapshot_iterator.h"
#include "states/any_fs_utils.h"
#include "states/state_vector.h"

namespace Python {

namespace {

using cd = std::complex<double>;

// Python's in-place operators: the native in-place operation runs on a copy, which Python then
// binds to the name. The object itself never changes: a state vector is hashable, and one used as
// a dict key or a set member must keep its hash.
template <typename Operation>
StateVector on_copy(const StateVector& self, Operation operation) {
    StateVector result(self);
    operation(result);
    return result;
}

// The iterators read a copy of the components taken when iteration starts (snapshot_iterator.h).
// Each kind of iteration has its own iterator class; the normalised one is told apart by a tag.
struct Normalized {};

constexpr const char* state_vector_doc =
    "State vector is a superposition of Fock states\n\n"
    ":param fock_state: (optional) one of:\n\n"
    "    - a ``FockState`` already constructed,\n"
    "    - the string representation of a state,\n"
    "    - a vector of integers giving the photon count of each mode.\n\n"
    ">>> import orbandile as ob\n"
    ">>> print(len(ob.StateVector()))  # an empty state vector\n"
    "0\n"
    ">>> s = ob.FockState(\"|1,0,1,0>\")\n"
    ">>> sv1 = ob.StateVector(s)\n"
    ">>> sv2 = ob.StateVector([1, 0, 1, 0])\n"
    ">>> sv3 = ob.StateVector(\"|1,0,1,0>\")\n"
    ">>> for sv in (sv1, sv2, sv3):\n"
    ">>>     print(list(sv.unnormalized_iterator()))\n"
    "[(|1,0,1,0>, (1+0j))]\n"
    "[(|1,0,1,0>, (1+0j))]\n"
    "[(|1,0,1,0>, (1+0j))]\n"
    ">>> print(sv1 == sv2 == sv3)\n"
    "True\n";

constexpr const char* iter_doc =
    "Iterates over (state, amplitude) composing the state vector after normalising the "
    "amplitudes.\n\n"
    ">>> import orbandile as ob\n"
    ">>> sv = 0.1*ob.StateVector([0,1]) + 0.2*ob.StateVector([1,0])\n"
    ">>> for state, amplitude in sv:\n"
    ">>>     print(state, amplitude)\n"
    "|0,1> (0.4472135954999579+0j)\n"
    "|1,0> (0.8944271909999159+0j)\n";

constexpr const char* unnormalized_iterator_doc =
    "Iterates over (state, amplitude) composing the state vector without normalising the "
    "amplitudes.\n\n"
    ">>> import orbandile as ob\n"
    ">>> sv = 0.1*ob.StateVector([0,1]) + 0.2*ob.StateVector([1,0])\n"
    ">>> for state, amplitude in sv.unnormalized_iterator():\n"
    ">>>     print(state, amplitude)\n"
    "|0,1> (0.1+0j)\n"
    "|1,0> (0.2+0j)\n";

constexpr const char* m_doc =
    ":return: The number of modes in the state\n\n"
    ">>> import orbandile as ob\n"
    ">>> sv = ob.StateVector(\"|1,0>\")\n"
    ">>> print(sv.m)\n"
    "2\n";

constexpr const char* n_doc =
    ":return: A set of all different photon count in the states composing the vector\n\n"
    ">>> import orbandile as ob\n"
    ">>> sv = 0.1*ob.StateVector([0,1]) + 0.2*ob.StateVector([2,0]) + "
    "0.5*ob.StateVector([1,0])\n"
    ">>> print(sv.n)\n"
    "{1, 2}\n";

constexpr const char* measure_doc =
    "Measure the state on a set of modes, actually collapsing part of the wave function.\n\n"
    ">>> import orbandile as ob\n"
    ">>> sv = ob.StateVector(\"|0,1,1>\") + ob.StateVector(\"|1,1,0>\")\n"
    ">>> result = sv.measure([0])\n"
    ">>> for s, (p, remaining) in result.items():\n"
    ">>>     print(f\"For detection {s} with probability {p}, we get the remaining state: "
    "{remaining}\")\n"
    "For detection |0> with probability 0.4999999999999999, we get the remaining state: |1,1>\n"
    "For detection |1> with probability 0.4999999999999999, we get the remaining state: |1,0>\n\n"
    ":param modes: A list of modes where the measurement is performed\n"
    ":return: A dictionary of the different possible mesurement results, with their probability "
    "and the remaining state vector\n";

}  // namespace

void bind_state_vector(py::module_& m) {
    py::class_<StateVector, py::smart_holder> cls(m, "StateVector");
    cls.def(py::init<>())
        .def(py::init<BasicState>(), py::arg("fock_state"))
        // Taken as std::string so that None matches no overload instead of reaching the parser.
        .def(py::init([](const std::string& text) { return StateVector(AnyFSUtils::parse(text)); }))
        .def(
            py::init([](const std::vector<int>& counts) { return StateVector(FockState(counts)); }))
        .def(
            "__eq__", [](const StateVector& a, const StateVector& b) { return a == b; },
            py::is_operator())
        .def(
            "__ne__", [](const StateVector& a, const StateVector& b) { return a != b; },
            py::is_operator())
        .def("__getitem__", [](StateVector& self, const BasicState& s) { return self[s]; })
        .def("__getitem__",
             [](const StateVector& self, std::size_t i) { return self.componentAt(i); })
        .def(
            "__iter__",
            [](StateVector& self) {
                const auto first = self.begin_normalized();
                return iterate_items<Normalized>(std::ranges::subrange(first, self.end()));
            },
            py::keep_alive<0, 1>(), iter_doc)
        .def(
            "unnormalized_iterator",
            [](const StateVector& self) {
                return iterate_items(std::ranges::subrange(self.begin_unnormalized(), self.end()));
            },
            py::keep_alive<0, 1>(), unnormalized_iterator_doc)
        .def(
            "keys",
            [](const StateVector& self) {
                return iterate_keys(std::ranges::subrange(self.begin_unnormalized(), self.end()));
            },
            py::keep_alive<0, 1>(),
            "Iterates over the states composing the state vector without normalising the "
            "amplitudes")
        .def("__contains__", &StateVector::hasComponent)
        .def("__len__", &StateVector::size)
        .def("__str__", [](const StateVector& self) { return fmt::format("{}", self); })
        .def("__repr__", [](const StateVector& self) { return fmt::format("{}", self); })
        .def("__hash__", &StateVector::hash)
        .def("__copy__", [](const StateVector& self) { return StateVector(self); })
        .def("__deepcopy__", [](const StateVector& self, py::dict) { return StateVector(self); })
        .def(
            "__add__", [](const StateVector& a, const StateVector& b) { return a + b; },
            py::is_operator())
        .def(
            "__iadd__",
            [](const StateVector& self, const StateVector& other) {
                return on_copy(self, [&](StateVector& v) { v += other; });
            },
            py::is_operator())
        .def(
            "__add__", [](const StateVector& a, const BasicState& s) { return a + s; },
            py::is_operator())
        .def(
            "__iadd__",
            [](const StateVector& self, const BasicState& s) {
                return on_copy(self, [&](StateVector& v) { v += s; });
            },
            py::is_operator())
        .def(
            "__radd__", [](const StateVector& a, const BasicState& s) { return s + a; },
            py::is_operator())
        .def(
            "__sub__", [](const StateVector& a, const StateVector& b) { return a - b; },
            py::is_operator())
        .def(
            "__isub__",
            [](const StateVector& self, const StateVector& other) {
                return on_copy(self, [&](StateVector& v) { v -= other; });
            },
            py::is_operator())
        .def(
            "__sub__", [](const StateVector& a, const BasicState& s) { return a - s; },
            py::is_operator())
        .def(
            "__rsub__", [](const StateVector& a, const BasicState& s) { return s - a; },
            py::is_operator())
        .def(
            "__isub__",
            [](const StateVector& self, const BasicState& s) {
                return on_copy(self, [&](StateVector& v) { v -= s; });
            },
            py::is_operator())
        .def(
            "__neg__", [](const StateVector& a) { return -a; }, py::is_operator())
        .def(
            "__mul__", [](const StateVector& a, int k) { return a * cd(k, 0); }, py::is_operator())
        .def(
            "__mul__", [](const StateVector& a, double x) { return a * cd(x, 0); },
            py::is_operator())
        .def(
            "__mul__", [](const StateVector& a, cd z) { return a * z; }, py::is_operator())
        .def(
            "__mul__", [](const StateVector& a, const BasicState& s) { return a * s; },
            py::is_operator())
        .def(
            "__rmul__", [](const StateVector& a, int k) { return cd(k, 0) * a; }, py::is_operator())
        .def(
            "__rmul__", [](const StateVector& a, double x) { return cd(x, 0) * a; },
            py::is_operator())
        .def(
            "__rmul__", [](const StateVector& a, cd z) { return z * a; }, py::is_operator())
        .def(
            "__rmul__", [](const StateVector& a, const BasicState& s) { return s * a; },
            py::is_operator())
        .def(
            "__imul__",
            [](const StateVector& self, int k) {
                return on_copy(self, [&](StateVector& v) { v.scale(static_cast<double>(k)); });
            },
            py::is_operator())
        .def(
            "__imul__",
            [](const StateVector& self, double x) {
                return on_copy(self, [&](StateVector& v) { v.scale(x); });
            },
            py::is_operator())
        .def(
            "__imul__",
            [](const StateVector& self, cd z) {
                return on_copy(self, [&](StateVector& v) { v.scale(z); });
            },
            py::is_operator())
        .def(
            "__imul__",
            [](const StateVector& self, const BasicState& s) {
                return on_copy(self, [&](StateVector& v) { v *= s; });
            },
            py::is_operator())
        .def(
            "__mul__", [](const StateVector& a, const StateVector& b) { return a * b; },
            py::is_operator())
        .def("__pow__", &StateVector::pow)
        .def("normalize", &StateVector::normalize, "Normalize the amplitudes")
        .def_property_readonly("is_normalized", &StateVector::isNormalized,
                               ":return: `True` if the state vector remained unchanged since the "
                               "previous normalisation, `False` otherwise.")
        .def_property_readonly("m", &StateVector::modeCount, m_doc)
        .def_property_readonly("n", &StateVector::n, n_doc)
        .def(
            "sample", [](StateVector& self) { return BasicState(self.sample()); },
            "Retrieve one sample following the normalised probability amplitudes\n\n"
            ":return: The sampled state\n")
        .def("samples", &StateVector::samples, py::arg("count"),
             "Generate an ordered list of samples following the normalised probability "
             "amplitudes\n\n"
             ":param count: The number of expected samples\n"
             ":return: A list of samples of size `count`\n")
        .def("measure", &StateVector::measure, py::arg("modes"), measure_doc);
    cls.attr("__doc__") = state_vector_doc;
}

}  // namespace Python
