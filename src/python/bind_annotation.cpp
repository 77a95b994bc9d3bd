#include <complex>
#include <optional>
#include <string>
#include <string_view>

#include <pybind11/complex.h>
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/uninitialised.h"
#include "states/annotation.h"
#include "states/parsed_basic_state.h"

namespace Python {

namespace {

constexpr const char* annotation_doc =
    R"doc(An Annotation is a mapping between string keys representing annotation names, and (complex) values that can be any number.

Annotations are primarily used to annotate the photons of annotated states: photons whose
annotations differ are distinguishable.

>>> import orbandile as ob
>>> a = ob.Annotation("a:0,b:1+2j")
>>> fs = ob.FockState([1, 1])
>>> print(fs.inject_annotation(a))
|{a:0,b:(1,2)},{a:0,b:(1,2)}>
)doc";

// Texts are taken as std::string, so None is refused with TypeError; like a C string, the text
// stops at its first NUL.
std::string_view c_text(const std::string& text) {
    return text.c_str();
}

}  // namespace

void bind_annotation(py::module_& m) {
    py::class_<Annotation>(m, "Annotation", annotation_doc)
        .def(py::init<>(), "empty annotation constructor")
        .def(py::init([](const std::string& s) { return Annotation(c_text(s)); }), py::arg("s"),
             "constructor from string")
        .def("__getitem__",
             [](const Annotation& annotation,
                const std::string& name) -> std::optional<std::complex<float>> {
                 const auto it = annotation.find(name);
                 if (it == annotation.end()) return std::nullopt;
                 return it->second;
             })
        .def(
            "__iter__",
            [](const Annotation& annotation) {
                return refusing_uninitialised(
                    py::make_iterator(annotation.begin(), annotation.end()));
            },
            py::keep_alive<0, 1>())
        .def("__str__", &Annotation::to_str)
        .def("__len__", &Annotation::size)
        .def("str_value", &Annotation::str_value, py::arg("tag"),
             "give string representation of the tag value")
        .def(py::self == py::self)
        .def(py::self != py::self)
        .def(
            "__contains__",
            [](const Annotation& annotation, const std::string& k) {
                return annotation.count(k) != 0;
            },
            py::arg("k"), "check if element is part of annotation")
        .def("get", &Annotation::get, py::arg("k"), py::arg("default"),
             "retrieve an annotation or a default value")
        .def("__hash__", &Annotation::hash);
}

void bind_parsed_basic_state(py::module_& m) {
    py::class_<ParsedBasicState>(m, "ParsedBasicState")
        .def(py::init([](const std::string& text) { return ParsedBasicState(text.c_str()); }))
        .def("get_fs_vect", &ParsedBasicState::get_fs_vect)
        .def("get_noisy_modes", &ParsedBasicState::get_noisy_modes)
        .def("get_annotated_modes", &ParsedBasicState::get_annotated_modes)
        .def("is_noisy", &ParsedBasicState::is_noisy)
        .def("is_annotated", &ParsedBasicState::is_annotated);
}

}  // namespace Python
