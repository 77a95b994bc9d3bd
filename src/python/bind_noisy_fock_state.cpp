#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/mode_iterator.h"
#include "python/opaque_types.h"
#include "python/slice_bounds.h"
#include "python/state_arithmetic.h"
#include "python/state_promotion.h"
#include "states/annotated_fock_state.h"
#include "states/noisy_fock_state.h"
#include "states/parsed_basic_state.h"

namespace Python {

namespace {

constexpr const char* noisy_fock_state_doc =
    "\nA ``NoisyFockState`` is a collection of one or several batches of indistinguishable photons "
    "where the "
    "photons from different batches are distinguishable.\n\n"
    "Each batch is represented by an integer noise tag between 0 and 255. As for "
    "``AnnotatedFockState``, photons "
    "are written with braces, but only the noise tag goes inside the braces.\n\n"
    "A ``NoisyFockState`` is constructed from a ``FockState`` and a list of n noise tags, one per "
    "photon, starting "
    "from mode 0.\n\n"
    ">>> from orbandile import FockState, NoisyFockState\n"
    ">>> state = NoisyFockState(FockState([1, 0, 2]), [0, 0, 1])\n"
    ">>> print(state)\n"
    "|{0},0,{0}{1}>\n";

constexpr const char* merge_doc =
    "\n:param other: a Fock state object of any type with the same number of modes than ``self``.\n"
    ":return: A new state holding the photons of both ``self`` and ``other``. Its type is inferred "
    "from ``self`` and "
    "``other`` so that it can hold all the information:\n\n"
    "- the photons of a ``FockState`` are converted to {0} to give a ``NoisyFockState``,\n"
    "- the photons of a ``NoisyFockState`` are converted, for an ``AnnotatedFockState``, to an "
    "annotation named "
    "``_`` whose value is the noise tag.\n";

constexpr const char* set_slice_doc =
    "\nCreates a new state from ``self`` with a section replaced by an ``other`` state.\n\n"
    ":param other: The state to insert. It must have ``end - start`` modes.\n"
    ":param start: The first mode to replace.\n"
    ":param end: The mode after the last one to replace (excluded).\n"
    ":return: A new state of the smallest type able to hold ``self`` and ``other``, whose modes "
    "from ``start`` to "
    "``end`` come from ``other`` and the others from ``self``.\n";

constexpr const char* separate_state_doc =
    "\nSeparate a noisy state into a list of perfect Fock states.\n\n"
    "The photons within one resulting state are all indistinguishable, while photons of different "
    "states are all "
    "distinguishable.\n\n"
    ">>> state = NoisyFockState(FockState([1, 2]), [0, 0, 1])\n"
    ">>> print(state.separate_state())\n"
    "[ |1, 1>, |0, 1> ]\n\n"
    ":return: A list of Fock states where each represents a collection of indistinguishable "
    "photons from the "
    "original state\n";

constexpr const char* split_state_doc =
    "\n>>> state = NoisyFockState(FockState([1, 2]), [0, 0, 1])\n>>> "
    "print(state.split_state())\n{0: |1, 1>, 1: |0, "
    "1>}\n\n:return: A dict of states where each state represents a collection of "
    "indistinguishable photons from the "
    "original state,\n         associated with the noise tag they were defined with.\n";

}  // namespace

void bind_noisy_fock_state(py::module_& m) {
    using Noisy = NoisyFockState;
    py::class_<Noisy, py::smart_holder> noisy(m, "NoisyFockState");
    noisy.def(py::init<>(), "Empty noisy fockstate")
        .def(py::init<Noisy const&>(), py::arg("nfs"), "Constructor from existing noisy fockstate")
        .def(py::init([](FockState const& fs) { return Noisy(FockState(fs)); }), py::arg("fs"),
             "Constructor from existing fockstate, setting all photons to a {0} noise tag")
        .def(py::init([](FockState const& fs, std::vector<unsigned char> const& noise) {
                 return Noisy(FockState(fs), noise, false);
             }),
             py::arg("fs"), py::arg("noise"),
             "Constructor from existing fockstate and a noise tag list describing the tag for each "
             "photon (in "
             "order)")
        .def(py::init<ParsedBasicState const&>(), py::arg("parsed_bs"),
             "Constructor from parsed basic state")
        // Taken as std::string so that None matches no overload instead of reaching the parser.
        .def(py::init<std::string const&>(), py::arg("str"),
             "Constructor from string representation")
        .def("__len__", &Noisy::m)
        .def_property_readonly("m", &Noisy::m, ":return: The number of modes")
        .def_property_readonly("n", &Noisy::n, ":return: The number of photons")
        .def("__getitem__", &Noisy::operator[], py::arg("mk"))
        .def("__getitem__",
             [](Noisy const& self, py::slice const& slice) {
                 const SliceBounds b = adjust(slice, self.m());
                 return self.slice(b.start, b.stop, b.step);
             })
        .def("set_slice", &promoted_set_slice_at<Noisy, FockState>)
        .def("set_slice", &promoted_set_slice_at<Noisy, AnnotatedFockState>)
        .def("set_slice", &promoted_set_slice_at<Noisy, Noisy>)
        .def("set_slice", &promoted_set_slice<Noisy, FockState>)
        .def("set_slice", &Noisy::set_slice, set_slice_doc)
        .def("set_slice", &promoted_set_slice<Noisy, AnnotatedFockState>)
        .def("slice", &Noisy::slice)
        .def("remove_modes", &Noisy::remove_modes, py::arg("modes"),
             "\n:param modes: The list of modes to remove.\n:return: A new state with only the "
             "modes that are not in "
             "``modes``\n")
        .def(
            "__iter__", [](Noisy const& s) { return mode_iterator(s.state()); },
            py::keep_alive<0, 1>())
        .def("__str__", &Noisy::to_str, py::arg("show_annotations") = true)
        .def("__repr__", &Noisy::to_str, py::arg("show_annotations") = true)
        .def("__hash__", &Noisy::hash)
        .def("__copy__", [](Noisy const& s) { return Noisy(s); })
        .def("__deepcopy__", [](Noisy const& s, py::dict) { return Noisy(s); })
        .def("__mul__", &promoted_product<Noisy, FockState>, py::is_operator())
        .def(
            "__mul__", [](Noisy const& a, Noisy const& b) { return a * b; }, py::is_operator())
        .def("__mul__", &promoted_product<Noisy, AnnotatedFockState>, py::is_operator());
    def_scalar_products<Noisy>(noisy)
        .def("__imul__", &promoted_product_in_place<Noisy, FockState>, py::is_operator())
        .def("__imul__", &product_in_place<Noisy, Noisy>, py::is_operator());
    def_sums<Noisy>(noisy)
        .def("__pow__", &Noisy::pow)
        .def(
            "__eq__", [](Noisy const& a, Noisy const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](Noisy const& a, Noisy const& b) { return a != b; }, py::is_operator())
        .def(
            "clear_annotations", [](Noisy const& self) { return self.state(); },
            ":return: The underlying ``FockState`` containing only the photon positions")
        .def("get_mode_annotations", &Noisy::get_mode_annotations, py::arg("m"),
             "\n:param m: The mode to get the annotations from.\n:return: A list of all noise tags "
             "on this mode, with "
             "repetition if more than 1 photon share the same tag.\n")
        .def("get_photon_annotation", &Noisy::get_photon_annotation, py::arg("n"),
             "\n:param n: The photon to take the noise from, where photons are sorted mode by "
             "mode.\n:return: The "
             "noise tag of the given photon.\n")
        .def_property_readonly(
            "has_annotations", [](Noisy const& self) { return self.n() > 0; },
            ":return: ``True`` if the state has any photon with annotation, ``False`` otherwise.")
        .def("inject_annotation",
             [](Noisy const&, py::args const&, py::kwargs const&) {
                 throw std::runtime_error("Can't inject annotation in a NoisyFockState");
             })
        .def_property_readonly(
            "has_polarization", [](Noisy const&) { return false; },
            ":return: ``True`` if the state has any photon with polarization annotation (key "
            "\"P\"), ``False`` "
            "otherwise.")
        .def("separate_state", &Noisy::separate_state, separate_state_doc)
        .def("split_state", &Noisy::split_state, split_state_doc)
        .def("photon2mode", &Noisy::photon2mode, py::arg("n"),
             "\n:param n: The photon index.\n:return: The mode of the nth photon, where photons "
             "are sorted by "
             "ascending mode number.\n")
        .def("mode2photon", &Noisy::mode2photon, py::arg("mode"),
             "\n:param mode: The mode of the photon.\n:return: The index of the first photon in "
             "the given mode (when "
             "photons are ordered mode by mode), or -1 if the mode is empty.\n")
        .def(
            "prodnfact", [](Noisy const& self) { return self.state().prodnfact(); },
            ":return: The product of factorials of the photon count in each mode (``self[0]! * "
            "self[1]! * ... * "
            "self[m-1]!``)")
        .def("merge", &Noisy::merge, merge_doc)
        .def("merge", &promoted_merge<Noisy, FockState>)
        .def("merge", &promoted_merge<Noisy, AnnotatedFockState>)
        .def("threshold_detection",
             [](Noisy const& self) { return self.state().threshold_detection(); })
        .def(
            "threshold_detection",
            [](Noisy const& self, int k) { return self.state().threshold_detection(k); },
            py::arg("threshold"),
            "\n:param threshold: Maximum number of photons per mode.\n:return: a new ``FockState`` "
            "where the photon "
            "count of mode m is min(threshold, self[m])\n");
    noisy.attr("__doc__") = noisy_fock_state_doc;
}

}  // namespace Python
