#include <cstdint>

#include <fmt/format.h>
#include <pybind11/eigen.h>

#include "backends/clifford2017.h"
#include "python/bindings.h"
#include "python/sample_count.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/memory_limit.h"
#include "states/fock_state.h"

namespace Python {

namespace {

using Backend::Clifford2017;

constexpr const char* class_doc =
    "Clifford & Clifford 2017 sampling back-end\n"
    "\n"
    "The samples generation is distributed on multiple CPU cores.\n"
    "To control the number of CPU cores used in the computation, please see ``ob.Config``.\n";

constexpr const char* samples_doc =
    "Generate a list of samples.\n"
    "\n"
    "The computation uses the internal configuration of orbandile (see ``orbandile.Config``) to "
    "be parallelised as much as possible.\n"
    "\n"
    ":param count: The number of expected samples\n"
    ":return: A BSSamples of size count containing all generated samples\n";

}  // namespace

void bind_clifford2017(py::module_& m) {
    py::class_<Clifford2017, py::smart_holder>(m, "Clifford2017", class_doc)
        .def(py::init<>())
        .def("__copy__", [](Clifford2017 const& self) { return Clifford2017(self); })
        .def("__deepcopy__", [](Clifford2017 const& self, py::dict) { return Clifford2017(self); })
        .def("set_input_state", &Clifford2017::setInputState, py::arg("input_state"),
             "Set the input Fock state for the sampling\n\n:param input_state: The input state\n")
        .def("set_unitary", &Clifford2017::setUnitary, py::arg("u"),
             "Set the unitary matrix to sample on.\n\n:param u: The unitary matrix\n")
        .def(
            "sample",
            [](Clifford2017& self) {
                const InterruptSignalHandler::ScopedHandler handler;
                return self.sample();
            },
            "Generate one output sample.\n\n:return: One possible sample\n")
        .def(
            "samples",
            [](Clifford2017& self, SampleCount<std::uint32_t> count) {
                // The runners' lists and the joined result hold every sample at once; a code of
                // more than 8 photons adds its heap block. Checked here rather than in the
                // sampler, whose callers may count on Ctrl-C to keep what is done.
                MemoryLimit::check_fits(2.0 * sizeof(FockState) * count.value,
                                        fmt::format("{} samples", count.value));
                const InterruptSignalHandler::ScopedHandler handler;
                return self.samples(count.value);
            },
            py::arg("count"), samples_doc);
}

}  // namespace Python
