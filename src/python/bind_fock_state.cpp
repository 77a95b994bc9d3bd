#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/mode_iterator.h"
#include "python/opaque_types.h"
#include "python/slice_bounds.h"
#include "python/state_arithmetic.h"
#include "python/state_promotion.h"
#include "runtime/interrupt_signal_handler.h"
#include "states/annotated_fock_state.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"
#include "states/parsed_basic_state.h"
#include "states/partition.h"

namespace Python {

namespace {

constexpr const char* fock_state_doc =
    "\nA ``FockState`` is an immutable container representing the positions of n indistinguishable "
    "photons in m "
    "modes.\n\n>>> from orbandile import FockState\n>>> state = FockState([1, 2, 3])  # 1 photon "
    "in the first mode, "
    "2 in the second mode, and 3 in the last mode\n>>> print(f\"{state} containing {state.n} "
    "photons)\n|1,2,3> "
    "containing 6 photons\n";

constexpr const char* merge_doc =
    "\n:param other: a Fock state object of any type with the same number of modes than ``self``.\n"
    ":return: A new state holding the photons of both ``self`` and ``other``. Its type is inferred "
    "from ``self`` and "
    "``other`` so that it can hold all the information:\n\n"
    "- the photons of a ``FockState`` get the noise tag 0 to give a ``NoisyFockState``,\n"
    "- the noise tags of a ``NoisyFockState`` become annotations to give an "
    "``AnnotatedFockState``.\n";

constexpr const char* set_slice_doc =
    "\nCreates a new state from ``self`` with a section replaced by an ``other`` state.\n\n"
    ":param other: The state to insert. It must have ``end - start`` modes.\n"
    ":param start: The first mode to replace.\n"
    ":param end: The mode after the last one to replace (excluded).\n"
    ":return: A new state, promoted to the smallest type able to hold ``self`` and ``other``, "
    "whose modes from "
    "``start`` to ``end`` come from ``other`` and the others from ``self``.\n";

}  // namespace

void bind_fock_state(py::module_& m) {
    py::class_<mode_iterator, py::smart_holder>(m, "ModeIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](mode_iterator& it) {
            if (it.mode >= it.state.m()) throw py::stop_iteration();
            const unsigned char* code = it.state.data();
            const int n = it.state.n();
            int count = 0;
            while (it.current < n && code[it.current] == it.mode) ++it.current, ++count;
            ++it.mode;
            return count;
        });

    py::class_<FockState, py::smart_holder> fock_state(m, "FockState");
    fock_state.def(py::init<>(), "empty fockstate")
        .def(py::init<int>(), "vacuum state constructor, 0 photons")
        .def(py::init<FockState const&>(), py::arg("fs"),
             "constructor from existing fockstate (FockState class)")
        .def(py::init<std::vector<int> const&>(), py::arg("code"),
             "constructor from existing fockstate vector (vector of modes)")
        .def(py::init<ParsedBasicState const&>(), py::arg("parsed_bs"),
             "constructor from parsed basic state")
        // Taken as std::string so that None matches no overload instead of reaching the parser.
        .def(py::init<std::string const&>(), py::arg("str"),
             "constructor from string representation")
        .def("__len__", &FockState::m)
        .def_property_readonly("m", &FockState::m, ":return: The number of modes")
        .def_property_readonly("n", &FockState::n, ":return: The number of photons")
        .def("__str__", [](FockState const& s) { return fmt::format("{}", s); })
        .def("__repr__", [](FockState const& s) { return fmt::format("{}", s); })
        .def(
            "__iter__", [](FockState const& s) { return mode_iterator(s); }, py::keep_alive<0, 1>())
        .def("__hash__", &FockState::hash)
        .def("__copy__", [](FockState const& s) { return FockState(s); })
        .def("__deepcopy__", [](FockState const& s, py::dict) { return FockState(s); })
        .def(
            "__eq__", [](FockState const& a, FockState const& b) { return a == b; },
            py::is_operator())
        .def(
            "__ne__", [](FockState const& a, FockState const& b) { return a != b; },
            py::is_operator())
        .def(
            "__mul__", [](FockState const& a, FockState const& b) { return a * b; },
            py::is_operator())
        .def("__mul__", &promoted_product<FockState, NoisyFockState>, py::is_operator())
        .def("__mul__", &promoted_product<FockState, AnnotatedFockState>, py::is_operator());
    def_scalar_products<FockState>(fock_state)
        .def("__imul__", &product_in_place<FockState, FockState>, py::is_operator());
    def_sums<FockState>(fock_state)
        .def("__pow__", &FockState::pow)
        .def(
            "merge",
            [](FockState const& self, FockState const& other) { return self.merge(other); },
            merge_doc)
        .def("merge", &promoted_merge<FockState, NoisyFockState>)
        .def("merge", &promoted_merge<FockState, AnnotatedFockState>)
        .def("__getitem__", &FockState::operator[], py::arg("mk"))
        .def("__getitem__",
             [](FockState const& self, py::slice const& slice) {
                 const SliceBounds b = adjust(slice, self.m());
                 return self.slice(b.start, b.stop, b.step);
             })
        .def("set_slice", &promoted_set_slice_at<FockState, NoisyFockState>)
        .def("set_slice", &promoted_set_slice_at<FockState, AnnotatedFockState>)
        .def("set_slice", &promoted_set_slice_at<FockState, FockState>)
        .def(
            "set_slice",
            [](FockState const& self, FockState const& other, int start, int end) {
                return self.set_slice(other, start, end);
            },
            set_slice_doc)
        .def("set_slice", &promoted_set_slice<FockState, NoisyFockState>)
        .def("set_slice", &promoted_set_slice<FockState, AnnotatedFockState>)
        .def("slice", &FockState::slice)
        .def("remove_modes", &FockState::remove_modes, py::arg("modes"),
             "\n:param modes: The list of modes to remove.\n:return: A new state with only the "
             "modes that are not in "
             "``modes``\n")
        .def("photon2mode", &FockState::photon2mode, py::arg("n"),
             "\n:param n: The photon index.\n:return: The mode of the nth photon, where photons "
             "are sorted by "
             "ascending mode number.\n")
        .def("mode2photon", &FockState::mode2photon, py::arg("mode"),
             "\n:param mode: The mode of the photon.\n:return: The index of the first photon in "
             "the given mode (when "
             "photons are ordered mode by mode), or -1 if the mode is empty.\n")
        .def("prodnfact", &FockState::prodnfact,
             ":return: The product of factorials of the photon count in each mode (``self[0]! * "
             "self[1]! * ... * "
             "self[m-1]!``)")
        .def(
            "clear_annotations", [](FockState& self) -> FockState& { return self; },
            ":return: The underlying ``FockState`` containing only the photon positions")
        .def(
            "get_mode_annotations", [](FockState const&, int) { return py::none(); }, py::arg("m"),
            "\n:param m: The mode to get the annotations from.\n:return: A list of all annotations "
            "on this mode, with "
            "repetition if more than one photon share the same annotation.\n")
        .def(
            "get_photon_annotation", [](FockState const&, int) { return py::none(); }, py::arg("n"),
            "\n:param n: The photon to take the annotation from, where photons are sorted mode by "
            "mode.\n:return: The "
            "Annotation of the given photon.\n")
        .def_property_readonly(
            "has_annotations", [](FockState const&) { return false; },
            ":return: ``True`` if the state has any photon with annotation, ``False`` otherwise.")
        .def_property_readonly(
            "has_polarization", [](FockState const&) { return false; },
            ":return: ``True`` if the state has any photon with polarization annotation (key "
            "\"P\"), ``False`` "
            "otherwise.")
        .def(
            "inject_annotation",
            [](FockState const& self, unsigned char tag) {
                return NoisyFockState(
                    self, std::vector<unsigned char>(static_cast<std::size_t>(self.n()), tag),
                    false);
            },
            py::arg("tag"),
            "\n:param tag: The noise tag to inject in this state\n:return: A NoisyFockState where "
            "photons are at the "
            "same position than in `self`, all with the specified noise tag.\n")
        .def(
            "inject_annotation",
            [](FockState const& self, Annotation const& annot) {
                AnnotatedFockState state{FockState(self)};
                state.inject_annotation(annot);
                return state;
            },
            py::arg("annot"),
            "\n:param annot: The annotation to inject\n:return: A new state where photons are at "
            "the "
            "same position and are all annotated with ``annot``\n")
        // The ways grow factorially: let Ctrl-C reach the enumeration.
        .def("partition", &Utils::partition, py::arg("vector"),
             py::call_guard<InterruptSignalHandler::ScopedHandler>())
        .def("threshold_detection",
             [](FockState const& self) { return self.threshold_detection(); })
        .def(
            "threshold_detection",
            [](FockState const& self, int k) { return self.threshold_detection(k); },
            py::arg("threshold"),
            "\n:param threshold: Maximum number of photons per mode.\n:return: a new ``FockState`` "
            "where the photon "
            "count of mode m is min(threshold, self[m])\n");
    fock_state.attr("__doc__") = fock_state_doc;
}

}  // namespace Python
