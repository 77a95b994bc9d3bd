#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/simulator_binding.h"
#include "runtime/interrupt_signal_handler.h"
#include "simulators/sampling_simulator.h"
#include "simulators/source.h"

namespace Python {

namespace {

using simulators::SamplingSimulator;

constexpr const char* class_doc =
    "Simulates a sampling, using a perfect sampling algorithm. It is used to take advantage of a "
    "parallel sampling\n"
    "algorithm, computing multiple output states at once, while taking noise and post-processing "
    "(heralds,\n"
    "post-selection, detector characteristics) into account.\n\n"
    ":param sampling_backend: Instance of an Orbandile sampling backend such as Clifford2017\n";

constexpr const char* progress_callback_doc =
    "A python callable to monitor the progress of the algorithm and possibly stop the algorithm.\n"
    "Its signature is Callable[[progress: float[0, 1], message: str], bool]; returning True makes "
    "the samples call\n"
    "return earlier with the samples drawn so far. Setting None removes any existing progress "
    "callback.\n";

constexpr const char* samples_doc =
    "Run a noisy sampling simulation and retrieve the results.\n\n"
    "Signatures: (SVDistribution, int max_samples, int max_shots) or\n"
    "(Source, FockState perfect_input, int max_samples, int max_shots).\n"
    "The two limits act as a dual threshold: the acquisition stops as soon as one is reached.\n\n"
    ":param max_samples: The maximum number of samples; a sample is any sampled state that passes "
    "all selections\n"
    ":param max_shots: The maximum number of shots; a shot is any sampled state with at least one "
    "photon. None means no limit\n"
    ":return: The sampled BSSamples\n";

SamplingSimulator make_simulator(std::shared_ptr<Backend::Clifford2017> sampler) {
    if (!sampler) throw py::type_error("SamplingSimulator needs a Clifford2017, not None");
    return SamplingSimulator(std::move(sampler));
}

}  // namespace

void bind_sampling_simulator(py::module_& m) {
    namespace sb = simulator_binding;
    py::class_<SamplingSimulator, py::smart_holder> cls(m, "SamplingSimulator");
    cls.def(py::init(&make_simulator), py::arg("sampling_backend"))
        .def("__copy__", [](SamplingSimulator const& self) { return SamplingSimulator(self); })
        .def("__deepcopy__", [](SamplingSimulator const& self, py::dict) { return self.clone(); })
        .def_readwrite("min_photons_filter", &SamplingSimulator::min_photons_filter,
                       "The minimum number of detected photons in any resulting state, excluding "
                       "heralds.\nSampled states that don't have enough photons will go into the "
                       "physical perf.\n")
        .def_readwrite("keep_heralds", &SamplingSimulator::keep_heralds,
                       "Whether or not to keep the modes on which there are heralds.\nKept herald "
                       "modes are expected to hold the number of photons given by their herald.\n")
        .def_property(
            "heralds", [](SamplingSimulator const& self) { return self.heralds; },
            [](SamplingSimulator& self, py::object const& heralds) {
                self.heralds = sb::heralds_from(heralds);
            },
            "A map associating each mode to a wanted number of detected photons on this "
            "mode.\nSampled states that do not fulfill this condition will be rejected and "
            "counted into the logical perf.\n")
        .def_property(
            "postselect",
            py::cpp_function([](SamplingSimulator& self) -> PostSelect& { return self.postselect; },
                             py::return_value_policy::reference_internal),
            [](SamplingSimulator& self, PostSelect const& ps) { self.postselect = ps; },
            "A PostSelect that will be applied so that each sample will fulfill the conditions "
            "described in the PostSelect.\nRejected states will go into the logical perf.\n")
        .def_readwrite("differentiate_perf", &SamplingSimulator::differentiate_perf,
                       "Setting this to true ensures that the physical and logical perf are "
                       "correctly computed, at the expense of some computation speed.\nIf this is "
                       "false, the product of the physical and logical perf is still the global "
                       "perf.\nDefault ``False``.\n")
        .def_property(
            "progress_callback",
            [](SamplingSimulator const& self) {
                return sb::progress_getter(self.progress_callback);
            },
            [](SamplingSimulator& self, SamplingSimulator::ProgressCallback callback) {
                self.progress_callback = std::move(callback);
            },
            progress_callback_doc)
        .def_property(
            "callback_interval",
            [](SamplingSimulator const& self) {
                return sb::interval_seconds(self.callback_interval);
            },
            [](SamplingSimulator& self, double seconds) {
                self.callback_interval = sb::interval_ms(seconds);
            },
            "The time, in seconds, between two calls of the progress callback during samples.\n");
    sb::def_detectors_and_perfs(cls);
    cls.def(
           "samples",
           [](SamplingSimulator& self, StateVectorDistribution const& svd, int max_samples,
              std::optional<int> max_shots) {
               const InterruptSignalHandler::ScopedHandler handler;
               return self.samples(svd, max_samples, max_shots);
           },
           py::arg("svd"), py::arg("max_samples"), py::arg("max_shots"), samples_doc)
        .def("samples", [](SamplingSimulator& self, Source const& source, FockState const& expected,
                           int max_samples, std::optional<int> max_shots) {
            const InterruptSignalHandler::ScopedHandler handler;
            return self.samples(source, expected, max_samples, max_shots);
        });
    cls.doc() = class_doc;
}

}  // namespace Python
