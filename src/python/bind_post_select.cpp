#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "simulators/post_select.h"
#include "states/annotated_fock_state.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"

namespace Python {

namespace {

constexpr const char* post_select_doc =
    "PostSelect is a callable basic state predicate intended to filter out unwanted basic "
    "states. It is designed to be\n"
    "a generic tool that can describe post-selection logics as a text.\n"
    "\n"
    ":param expression: PostSelect string representation of the post-selection logic.\n"
    ":type expression: str\n"
    "\n"
    "PostSelect Syntax\n"
    "=================\n"
    "\n"
    "Condition\n"
    "---------\n"
    "\n"
    "A condition is made of a mode list, an operator and a photon count. An expression holds at "
    "least one condition.\n"
    "\n"
    "- The mode list is a set of positive integers between brackets, such as ``[0, 1]``.\n"
    "- The operator compares the total number of photons found in the modes of the list with the "
    "photon count. The\n"
    "  operators are ``==``, ``!=``, ``>``, ``>=``, ``<`` and ``<=``.\n"
    "- The photon count is a non-negative integer.\n"
    "\n"
    "Logic operators\n"
    "---------------\n"
    "\n"
    "Conditions compose into condition groups, which nest with parentheses.\n"
    "\n"
    "- AND, OR and XOR compose two or more condition groups. AND is written ``&`` (the default "
    "serialisation), ``AND``\n"
    "  or ``and``; OR is written ``|`` (default), ``OR`` or ``or``; XOR is written ``^`` "
    "(default), ``XOR`` or ``xor``.\n"
    "- NOT stands in front of a condition group and is written ``!`` (default) or ``NOT``.\n"
    "\n"
    "Different operators cannot be used within one condition group without parentheses: "
    "``[0] == 1 & [1] == 1 | [2] == 1``\n"
    "is refused, while ``([0] == 1 & [1] == 1) | [2] == 1`` is accepted.\n"
    "\n"
    "Examples\n"
    "========\n"
    "\n"
    ">>> ps = PostSelect(\"[0,1] == 1 & [2] > 1\")  # exactly one photon in modes 0 and 1, and "
    "more than one in mode 2\n"
    ">>> print(ps(FockState([0, 1, 2])))\n"
    "True\n"
    ">>> print(ps(FockState([1, 0, 2])))\n"
    "True\n"
    ">>> print(ps(FockState([1, 1, 2])))\n"
    "False\n"
    "\n"
    ">>> ps = PostSelect(\"([0,1] == 1 & [2] > 1) | [2] == 0\")  # the same, or no photon in mode "
    "2\n"
    ">>> print(ps(FockState([0, 1, 1])))\n"
    "False\n"
    ">>> print(ps(FockState([1, 1, 0])))\n"
    "True\n"
    ">>> print(ps(FockState([1, 0, 2])))\n"
    "True\n";

constexpr const char* call_doc =
    "Return whether a state validates the defined post-selection logic.\n"
    "\n"
    ":param state: Basic state to post select\n"
    ":return: Returns ``True`` if the input state validates the defined post-selection logic, "
    "returns ``False`` otherwise.\n ";

constexpr const char* apply_permutation_doc =
    "Apply a given permutation on the conditions. Updates the current instance.\n"
    "\n"
    ":param perm_vector: Permutation vector to apply (as returned by ``PERM.perm_vector``)\n"
    ":param first_mode: First mode to apply the permutation on (default 0)\n ";

constexpr const char* shift_modes_doc =
    "Shift all mode indexes on all conditions. Updates the current instance.\n"
    "\n"
    ":param shift: Value to shift all mode indexes with\n ";

constexpr const char* can_compose_with_doc =
    "Check if all conditions are compatible with a composition on given modes.\n"
    "\n"
    "Compatible means that modes list is either a subset, or doesn't intersect with any mode "
    "list of any conditions.\n"
    "\n"
    ":param modes: Mode list to check compatibility\n"
    ":return: `True` if the mode list is compatible, `False` otherwise\n ";

constexpr const char* merge_doc =
    "Merge other PostSelect with an AND operator. Updates the current instance.\n"
    "\n"
    ":param other: Another PostSelect instance\n ";

constexpr const char* is_independent_with_doc =
    "Check if other PostSelect instance is independent with current one.\n"
    "\n"
    "Independent means that current and other instances does not share any modes within their "
    "conditions.\n"
    "\n"
    ":param other: Another PostSelect instance\n"
    ":return: ``True`` if current and other instances are independent, ``False`` otherwise\n ";

}  // namespace

void bind_post_select(py::module_& m) {
    py::class_<PostSelect, py::smart_holder> cls(m, "PostSelect");
    cls.def(py::init<>())
        .def(py::init<std::string const&>(), py::arg("expression"))
        .def(
            "__call__", [](PostSelect const& self, FockState const& state) { return self(state); },
            py::arg("state"), call_doc)
        .def(
            "__call__",
            [](PostSelect const& self, NoisyFockState const& state) { return self(state); },
            py::arg("state"))
        .def(
            "__call__",
            [](PostSelect const& self, AnnotatedFockState const& state) { return self(state); },
            py::arg("state"))
        .def(
            "__call__",
            [](PostSelect const& self, FockState const& state, int total) {
                return self(state, total);
            },
            py::arg("state"), py::arg("total_photon_count"))
        .def(
            "__call__",
            [](PostSelect const& self, NoisyFockState const& state, int total) {
                return self(state, total);
            },
            py::arg("state"), py::arg("total_photon_count"))
        .def(
            "__call__",
            [](PostSelect const& self, AnnotatedFockState const& state, int total) {
                return self(state, total);
            },
            py::arg("state"), py::arg("total_photon_count"))
        .def("__str__", &PostSelect::toString)
        .def("__repr__", &PostSelect::toString)
        .def(py::self == py::self)
        .def("__copy__", [](PostSelect const& self) { return PostSelect(self); })
        .def("__deepcopy__", [](PostSelect const& self, py::dict) { return PostSelect(self); })
        .def_property_readonly("modes", &PostSelect::getModes)
        .def("clear", &PostSelect::clear, "Clear all existing conditions")
        .def("apply_permutation", &PostSelect::applyPermutation, py::arg("perm_vector"),
             py::arg("first_mode") = 0, apply_permutation_doc)
        .def("shift_modes", &PostSelect::shiftModes, py::arg("shift"), shift_modes_doc)
        .def("can_compose_with", &PostSelect::isAllSubsetOrIndependent, py::arg("modes"),
             can_compose_with_doc)
        .def("merge", &PostSelect::merge, py::arg("other"), merge_doc)
        .def_property_readonly("has_condition", &PostSelect::hasCondition,
                               "Returns True if at least one condition is defined")
        .def("is_independent_with", &PostSelect::isIndependentWith, py::arg("other"),
             is_independent_with_doc);
    cls.attr("__doc__") = post_select_doc;
}

}  // namespace Python
