#include <list>
#include <map>
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

using Annotated = AnnotatedFockState;

constexpr const char* annotated_fock_state_doc =
    "\nAn annotated Fock state aims at being a general descriptor of a state.\n\n"
    "It maps annotations to photons, so as to do state arithmetic with any kind of photon "
    "(annotated with a wavelength, a polarisation, and so on).\n"
    "As it is generally impossible to infer how annotations translate into distinguishability, "
    "the user must write a translator to something the ``Galvorne`` framework can handle before "
    "using such a state in a simulation.\n\n"
    ">>> from orbandile import AnnotatedFockState\n"
    ">>> state = AnnotatedFockState(\"|0, {lambda:625.2}, {lambda:625.3}>\")\n";

constexpr const char* set_slice_doc =
    "Creates a new state from ``self`` with a section replaced by an ``other`` state.\n\n"
    ":param other: The state to insert. It must have ``end - start`` modes.\n"
    ":param start: The first mode to replace.\n"
    ":param end: The mode after the last one to replace (excluded).\n"
    ":return: A new state of the smallest type able to hold ``self`` and ``other``, whose modes "
    "from ``start`` to ``end`` come from ``other`` and the others from ``self``.\n";

constexpr const char* merge_doc =
    "\n:param other: a Fock state object of any type with the same number of modes than "
    "``self``.\n"
    ":return: A new state holding the photons of both ``self`` and ``other``. Its type is "
    "inferred from ``self`` and ``other`` so that it can hold all the information:\n\n"
    "- the photons of a ``FockState`` are converted to {0} to give a ``NoisyFockState``,\n"
    "- the photons of a ``NoisyFockState`` are converted to {_:`noise_tag`} for an "
    "``AnnotatedFockState``.\n";

Annotated slice_of(Annotated const& self, py::slice const& slice) {
    const SliceBounds b = adjust(slice, self.m());
    return self.slice(b.start, b.stop, b.step);
}

}  // namespace

void bind_annotated_fock_state(py::module_& m) {
    py::class_<Annotated, py::smart_holder> cls(m, "AnnotatedFockState");
    cls.def(py::init<>(), "Empty Fock state")
        .def(py::init<Annotated const&>(), py::arg("fs"), "Constructor from an existing Fock state")
        .def(py::init<int>(), "Vacuum state constructor, 0 photon")
        .def(py::init<ParsedBasicState const&>(), py::arg("parsed_bs"),
             "Constructor from parsed basic state")
        // Taken as std::string so that None matches no overload instead of reaching the parser.
        .def(py::init<std::string const&>(), py::arg("str"),
             "Constructor from string representation")
        .def(py::init<std::vector<int> const&>(), py::arg("fs_vec"), "Constructor from int vector")
        .def(py::init<std::vector<int> const&, std::map<int, std::list<std::string>> const&>(),
             py::arg("fs_vec"), py::arg("mode_annotation"),
             "Constructor from int vector and annotation map")
        .def("__len__", &Annotated::m)
        .def_property_readonly("m", &Annotated::m, ":return: The number of modes")
        .def_property_readonly("n", &Annotated::n, ":return: The number of photons")
        .def("__getitem__", &Annotated::operator[], py::arg("mk"))
        .def("__getitem__", &slice_of)
        .def("set_slice", &promoted_set_slice_at<Annotated, FockState>)
        .def("set_slice", &promoted_set_slice_at<Annotated, NoisyFockState>)
        .def("set_slice", &promoted_set_slice_at<Annotated, Annotated>)
        .def("set_slice", &promoted_set_slice<Annotated, FockState>)
        .def("set_slice", &promoted_set_slice<Annotated, NoisyFockState>)
        .def("set_slice", &Annotated::set_slice, set_slice_doc)
        .def("slice", &Annotated::slice)
        .def("remove_modes", &Annotated::remove_modes, py::arg("modes"),
             "\n:param modes: The list of modes to remove.\n:return: A new state with only the "
             "modes that are not in ``modes``\n")
        .def(
            "__iter__", [](Annotated const& s) { return mode_iterator(s.state()); },
            py::keep_alive<0, 1>())
        .def("__str__", &Annotated::to_str, py::arg("show_annotations") = true)
        .def("__repr__", &Annotated::to_str, py::arg("show_annotations") = true)
        .def("__hash__", &Annotated::hash)
        .def("__copy__", [](Annotated const& s) { return Annotated(s); })
        .def("__deepcopy__", [](Annotated const& s, py::dict) { return Annotated(s); })
        .def("__mul__", &promoted_product<Annotated, FockState>, py::is_operator())
        .def("__mul__", &promoted_product<Annotated, NoisyFockState>, py::is_operator())
        .def(
            "__mul__", [](Annotated const& a, Annotated const& b) { return a * b; },
            py::is_operator());
    def_scalar_products<Annotated>(cls)
        .def("__imul__", &promoted_product_in_place<Annotated, FockState>, py::is_operator())
        .def("__imul__", &promoted_product_in_place<Annotated, NoisyFockState>, py::is_operator())
        .def("__imul__", &product_in_place<Annotated, Annotated>, py::is_operator());
    def_sums<Annotated>(cls)
        .def("__pow__", &Annotated::pow)
        .def("merge", &Annotated::merge, merge_doc)
        .def("merge", &promoted_merge<Annotated, FockState>)
        .def("merge", &promoted_merge<Annotated, NoisyFockState>)
        .def(
            "__eq__", [](Annotated const& a, Annotated const& b) { return a == b; },
            py::is_operator())
        .def(
            "__ne__", [](Annotated const& a, Annotated const& b) { return a != b; },
            py::is_operator())
        .def("clear_annotations", &Annotated::clear_annotations,
             ":return: The underlying ``FockState`` containing only the photon positions")
        .def("get_mode_annotations", &Annotated::get_mode_annotations, py::arg("m"),
             "\n:param m: The mode to get the annotations from.\n:return: A list of all "
             "annotations on this mode, with repetition if more than one photon share the same "
             "annotation.\n")
        .def("get_photon_annotation", &Annotated::get_photon_annotation, py::arg("n"),
             "\n:param n: The photon to take the annotation from, where photons are sorted mode "
             "by mode.\n:return: The Annotation of the given photon.\n")
        .def("inject_annotation", &Annotated::inject_annotation, py::arg("annot"),
             "\n:param annot: The annotation to inject\n:return: A new state where photons are at "
             "the same position and are all annotated with ``annot``\n")
        .def_property_readonly(
            "has_annotations", &Annotated::has_annotations,
            ":return: ``True`` if the state has any photon with annotation, ``False`` otherwise.")
        .def_property_readonly("has_polarization", &Annotated::has_polarization,
                               ":return: ``True`` if the state has any photon with polarization "
                               "annotation (key \"P\"), ``False`` otherwise.")
        .def(
            "photon2mode", [](Annotated const& self, int n) { return self.state().photon2mode(n); },
            py::arg("n"),
            "\n:param n: The photon index.\n:return: The mode of the nth photon, where photons "
            "are sorted by ascending mode number.\n")
        .def(
            "mode2photon",
            [](Annotated const& self, int mode) { return self.state().mode2photon(mode); },
            py::arg("mode"),
            "\n:param mode: The mode of the photon.\n:return: The index of the first photon in "
            "the given mode (when photons are ordered mode by mode), or -1 if the mode is "
            "empty.\n")
        .def("prodnfact", &Annotated::prodnfact,
             ":return: The product of factorials of the photon count in each mode (``self[0]! * "
             "self[1]! * ... * self[m-1]!``)")
        .def("threshold_detection",
             [](Annotated const& self) { return self.threshold_detection(); })
        .def(
            "threshold_detection",
            [](Annotated const& self, int k) { return self.threshold_detection(k); },
            py::arg("threshold"),
            "\n:param threshold: Maximum number of photons per mode.\n:return: a new ``FockState`` "
            "where the photon count of mode m is min(threshold, self[m])\n");
    cls.attr("__doc__") = annotated_fock_state_doc;
}

}  // namespace Python
