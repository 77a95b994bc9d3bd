#include <map>
#include <memory>
#include <string>
#include <vector>

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include "backends/slap.h"
#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "python/bindings.h"
#include "python/simulator_binding.h"
#include "runtime/interrupt_signal_handler.h"
#include "simulators/source.h"
#include "simulators/strong_simulator.h"

namespace Python {

namespace {

constexpr const char* strong_simulator_doc =
    "Exact simulation of a linear-optical experiment: the distribution of detected output states\n"
    "for a mixture of (possibly noisy or superposed) input states, or for the inputs an imperfect\n"
    "source delivers, with heralds, detectors and post-selection.\n";

constexpr const char* progress_callback_doc =
    "A python callable to monitor the progress of the algorithm and possibly stop the algorithm.\n"
    "Its signature is Callable[[progress: float[0, 1], message: str], bool]; returning True makes\n"
    "the call return earlier. Setting None removes any existing progress callback.\n";

constexpr const char* probs_svd_doc =
    "Compute the probability distribution from a SVDistribution input and as well as performance "
    "scores.\n"
    "Signatures: (SVDistribution) or (Source, FockState perfect_input).\n"
    "Returns the output distribution; the physical perf (computed from the detected photon "
    "filter)\n"
    "and the logical perf (computed from the post-selection) are read with get_physical_perf and\n"
    "get_logical_perf.\n";

template <typename Backend_t>
StrongSimulator make_strong_simulator(std::shared_ptr<Backend_t> backend) {
    if (!backend) throw py::type_error("StrongSimulator needs a back-end, not None");
    return StrongSimulator(std::static_pointer_cast<Backend::IProbBackend>(std::move(backend)));
}

}  // namespace

void bind_strong_simulator(py::module_& m) {
    namespace sb = simulator_binding;
    py::class_<StrongSimulator, py::smart_holder> cls(m, "StrongSimulator");
    cls.def(py::init(&make_strong_simulator<Backend::SLOS>), py::arg("sampling_backend"))
        .def(py::init(&make_strong_simulator<Backend::SLOS_V2>), py::arg("sampling_backend"))
        .def(py::init(&make_strong_simulator<Backend::SLOS_V3>), py::arg("sampling_backend"))
        .def(py::init(&make_strong_simulator<Backend::SLAP>), py::arg("sampling_backend"))
        .def("__copy__", [](StrongSimulator const& self) { return StrongSimulator(self); })
        .def("__deepcopy__", [](StrongSimulator const& self, py::dict) { return self.clone(); })
        .def_readwrite("min_photons_filter", &StrongSimulator::min_photons_filter,
                       "The minimum number of detected photons in any resulting state, excluding "
                       "heralds.\nSampled states that don't have enough photons will go into the "
                       "physical perf.\n")
        .def_readwrite("keep_heralds", &StrongSimulator::keep_heralds,
                       "Whether or not to keep the modes on which there are heralds.\nKept herald "
                       "modes hold the number of photons given by their herald.\n")
        .def_property(
            "heralds", &StrongSimulator::get_heralds,
            [](StrongSimulator& self, py::object const& heralds) {
                self.set_heralds(sb::heralds_from(heralds));
            },
            "A map associating each mode to a wanted number of detected photons on this "
            "mode.\nSampled states that do not fulfill this condition will be rejected and "
            "counted into the logical perf.\n")
        .def_property(
            "postselect",
            py::cpp_function([](StrongSimulator& self) -> PostSelect& { return self.postselect; },
                             py::return_value_policy::reference_internal),
            [](StrongSimulator& self, PostSelect const& ps) { self.postselect = ps; },
            "A PostSelect that will be applied so that each sample will fulfill the conditions "
            "described in the PostSelect.\nRejected states will go into the logical perf.\n")
        .def_readwrite("differentiate_perf", &StrongSimulator::differentiate_perf,
                       "Setting this to true ensures that the physical and logical perf are "
                       "correctly computed, at the expense of some computation speed.\nIf this is "
                       "false, the product of the physical and logical perf is still the global "
                       "perf.\nDefault ``False``.\n")
        .def_readwrite("rel_precision", &StrongSimulator::rel_precision,
                       "Precision relative to the highest probability of interest in probs_svd\n")
        .def_readwrite("use_vector_cache", &StrongSimulator::use_vector_cache,
                       "Whether or not to use vector cache. Speed and memory may depend on this "
                       "value and whether the results are sparse or not\n")
        .def_property(
            "progress_callback",
            [](StrongSimulator const& self) { return sb::progress_getter(self.progress.callback); },
            [](StrongSimulator& self, ProgressCallback::Function callback) {
                self.progress.callback = std::move(callback);
            },
            progress_callback_doc)
        .def_property(
            "callback_interval",
            [](StrongSimulator const& self) {
                return sb::interval_seconds(self.progress.interval);
            },
            [](StrongSimulator& self, double seconds) {
                self.progress.interval = sb::interval_ms(seconds);
            },
            "The least time, in seconds, between two calls of the progress callback.\n");
    sb::def_detectors_and_perfs(cls);
    cls.def(
           "probs_svd",
           [](StrongSimulator& self, StateVectorDistribution const& svd) {
               const InterruptSignalHandler::ScopedHandler handler;
               return self.compute(svd);
           },
           py::arg("svd"), probs_svd_doc)
        .def("probs_svd",
             [](StrongSimulator& self, Source const& source, FockState const& expected) {
                 const InterruptSignalHandler::ScopedHandler handler;
                 return self.compute(source, expected);
             });
    cls.doc() = strong_simulator_doc;
}

}  // namespace Python
