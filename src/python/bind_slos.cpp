#include <complex>
#include <optional>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/eigen.h>
#include <pybind11/stl.h>
#include <Eigen/Core>

#include "backends/slos.h"
#include "fockspace/fs_array.h"
#include "fockspace/fs_mask.h"
#include "python/bindings.h"

namespace Python {

namespace {

constexpr const char* all_prob_normalize_output_doc =
    "Multiplies in place each entry of a vector by the product of the factorials of the photon "
    "counts per mode of the corresponding state of an ``FSArray``.\n"
    "\n"
    "For instance, if the ``FSArray`` iterates over `|3,0>`, `|2,1>` and `|0,3>`, this call would "
    "normalise a 3 elements vector with the coefficients 3!*0! = 6, 2!*1! = 2 and 0!*3! = 6.\n"
    "\n"
    ":param c: Vector of reals\n"
    ":param fsa: FSArray whose size must match the one of the vector\n"
    ":return: A normalised vector\n";

}  // namespace

void bind_slos_backends(py::module_& m) {
    m.def(
        "all_prob_normalize_output",
        [](Eigen::Ref<Eigen::VectorXd> c, FsArray const& fsa) {
            Backend::allProbabilitiesNormalizeOutput(c, fsa);
        },
        py::arg("c").noconvert(), py::arg("fsa"), all_prob_normalize_output_doc);

    py::class_<Backend::SLOS, py::smart_holder>(m, "SLOS")
        .def(py::init<>())
        .def("__copy__", [](Backend::SLOS const& self) { return Backend::SLOS(self); })
        .def("__deepcopy__",
             [](Backend::SLOS const& self, py::dict) { return Backend::SLOS(self); })
        .def("set_unitary", &Backend::SLOS::setUnitary, py::arg("u"))
        .def("set_input_state", &Backend::SLOS::setInputState, py::arg("fockstate"))
        .def("all_amplitudes", &Backend::SLOS::getAmplitudes)
        .def("all_probabilities", &Backend::SLOS::computeProbabilities)
        .def("distribution", &Backend::SLOS::computeProbabilityDistribution)
        .def("set_mask", &Backend::SLOS::setMask, py::arg("mask"));
}

}  // namespace Python
