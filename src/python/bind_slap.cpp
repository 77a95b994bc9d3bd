#include <map>
#include <utility>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "backends/configurator_map.h"
#include "backends/slap.h"
#include "backends/slap_sampler.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/fs_mask.h"
#include "python/bindings.h"
#include "python/polled_list.h"
#include "python/prob_backend_binding.h"
#include "python/sample_count.h"
#include "states/fock_state.h"

namespace Python {

namespace {

constexpr const char* configurator_map_doc =
    "The ConfiguratorMap is a way to describe a Feed-forward configurator as the measured modes, "
    "the configured modes,\n"
    "a default unitary, and a dict associating the list of measures (as tuple of int) and the "
    "unitary to configure.\n"
    "\n"
    ":param first_measured_mode: The first mode of the measurement part of the configurator\n"
    ":param last_measured_mode: The last mode of the measurement part of the configurator. "
    "Identical to the first mode if the configurator spans over 1 mode.\n"
    ":param first_configured_mode: The first mode of the circuit that is configured by this "
    "configurator.\n"
    ":param map: A dict[tuple[int], np.ndarray] associating the measure (each tuple must have len "
    "last_measured_mode - first_measured_mode + 1) to the unitary to configure.\n"
    ":param default_unitary: The unitary to set if the measure doesn't appear in the map.";

constexpr const char* slap_doc =
    "SLAP is a strong simulation back-end able to compute all probability amplitudes at once "
    "efficiently.\n"
    "\n"
    "Usage example:\n"
    "\n"
    ">>> import numpy as np\n"
    ">>> import orbandile as ob\n"
    ">>> slap = ob.SLAP()\n"
    ">>> slap.set_unitary(np.array([[1, 1j], [1j, 1]]) * 0.7071068)\n"
    ">>> slap.set_input_state(ob.FockState([1, 1]))\n"
    ">>> print(slap.all_amplitudes())\n"
    "[0.707106818813453j, 0j, 0.707106818813453j]";

constexpr const char* add_feed_forward_config_doc =
    "Add a feed-forward configurator to use in the SLAP backend. Configurators are applied in the "
    "order they are given.\n"
    "This method can also take a tuple (Matrix, int) where the Matrix is the unitary of one "
    "component and the int is the first mode of this component in the circuit.\n"
    "The first unitary must already be set before using this method.\n"
    "\n"
    ":param cfg_map: A ConfiguratorMap or a tuple (Matrix, int)";

// A read-only numpy view of the matrix, keeping `owner` alive.
py::array read_only_view(Matrix const& matrix, py::handle owner) {
    using Scalar = Matrix::Scalar;
    const auto item = static_cast<py::ssize_t>(sizeof(Scalar));
    py::array view(py::dtype::of<Scalar>(), {matrix.rows(), matrix.cols()},
                   {matrix.cols() * item, item}, matrix.data(), owner);
    view.attr("setflags")(py::arg("write") = false);
    return view;
}

void bind_configurator_map(py::module_& m) {
    py::class_<ConfiguratorMap, py::smart_holder>(m, "ConfiguratorMap")
        .def(py::init([](int first_measured_mode, int last_measured_mode, int first_configured_mode,
                         std::map<std::vector<int>, Matrix> map, Matrix default_unitary) {
                 return ConfiguratorMap(first_measured_mode, last_measured_mode,
                                        first_configured_mode, std::move(map),
                                        std::move(default_unitary));
             }),
             py::arg("first_measured_mode"), py::arg("last_measured_mode"),
             py::arg("first_configured_mode"), py::arg("map"), py::arg("default_unitary"))
        .def("__copy__", [](ConfiguratorMap const& self) { return ConfiguratorMap(self); })
        .def("__deepcopy__",
             [](ConfiguratorMap const& self, py::dict) { return ConfiguratorMap(self); })
        .def_property_readonly("first_measured_mode", &ConfiguratorMap::first_measured_mode)
        .def_property_readonly("last_measured_mode", &ConfiguratorMap::last_measured_mode)
        .def_property_readonly("first_configured_mode", &ConfiguratorMap::first_configured_mode)
        .def_property_readonly("default_unitary",
                               [](py::object const& self) {
                                   return read_only_view(
                                       self.cast<ConfiguratorMap const&>().default_unitary(), self);
                               })
        .def("is_default", &ConfiguratorMap::is_default, py::arg("detection"))
        .def(
            "__getitem__",
            [](ConfiguratorMap const& self, std::vector<int> const& detection) {
                return Matrix(self[detection]);
            },
            py::arg("detection"))
        .doc() = configurator_map_doc;
}

void bind_slap(py::module_& m) {
    ProbBackendLayout layout;
    layout.queries_first = true;
    layout.input_state_arg = "input_state";
    layout.all_amplitudes_doc =
        "Compute the probability amplitudes for all possible output states\n\n:return: A vector "
        "of amplitudes (complex), ordered in Galvorne natural Fock space order";
    layout.all_probabilities_doc =
        "Compute the probabilities for all possible output states\n\n:return: A vector of "
        "probabilities (real), ordered in Galvorne natural Fock space order";
    layout.distribution_doc =
        "Compute the probability distribution from the unitary circuit and the input state\n\n"
        ":return: The output distribution";
    layout.set_unitary_doc =
        "Set the unitary matrix of a linear optics circuit\n\n:param u: The unitary matrix";
    layout.set_input_state_doc =
        "Set the input state of a linear optics circuit\n\n:param input_state: A perfect input "
        "state, which size matches the unitary matrix's";
    layout.set_mask_doc =
        "Set a mask to discard part of the Fock space. This saves time and memory during a "
        "simulation.\n\n:param mask: A ``FSMask`` instance";
    bind_prob_backend<Backend::SLAP>(m, "SLAP", layout)
        .def("add_feed_forward_config", &Backend::SLAP::addFfMap, py::arg("cfg_map"),
             add_feed_forward_config_doc)
        .def("add_feed_forward_config", &Backend::SLAP::addFfUnitary, py::arg("cfg_map"))
        .def("reset_feed_forward", &Backend::SLAP::resetFfMap,
             "Clears any pre-existing feed-forward information.")
        .doc() = slap_doc;
}

void bind_slap_sampler(py::module_& m) {
    using Backend::SLAPSampler;
    py::class_<SLAPSampler, py::smart_holder>(m, "SLAPSampler")
        .def(py::init<>())
        .def("__copy__", [](SLAPSampler const& self) { return SLAPSampler(self); })
        .def("__deepcopy__", [](SLAPSampler const& self, py::dict) { return SLAPSampler(self); })
        .def("set_unitary", &SLAPSampler::setUnitary, py::arg("u"))
        .def(
            "sampling",
            [](SLAPSampler& self, FockState const& input_state, SampleCount<int> n_samples) {
                return polled_list(self.generateSamples(input_state, n_samples.value));
            },
            py::arg("input_state"), py::arg("n_samples"), CatchSigint());
}

}  // namespace

void bind_slap_backend(py::module_& m) {
    bind_configurator_map(m);
    bind_slap(m);
    bind_slap_sampler(m);
}

}  // namespace Python
