#pragma once

#include <pybind11/pybind11.h>

#include "python/opaque_types.h"
#include "runtime/interrupt_signal_handler.h"

// Registration functions, one per domain; module.cpp calls them in the module's fixed order.
namespace Python {

namespace py = pybind11;

// For calls that can run long: Ctrl-C during the call sets the flag their loops poll, which end
// it with KeyboardInterrupt; afterwards SIGINT is the interpreter's again.
using CatchSigint = py::call_guard<InterruptSignalHandler::ScopedHandler>;

void bind_permanent_functions(py::module_& m);
void bind_annotation(py::module_& m);
void bind_parsed_basic_state(py::module_& m);
void bind_annotated_fock_state(py::module_& m);
void bind_fock_state(py::module_& m);
void bind_noisy_fock_state(py::module_& m);
void bind_state_vector(py::module_& m);
void bind_fock_space_containers(py::module_& m);
void bind_post_select(py::module_& m);
void bind_circuit_optimizer(py::module_& m);
void bind_rectangular_decomposer(py::module_& m);
void bind_slos_backends(py::module_& m);
void bind_slap_backend(py::module_& m);
void bind_clifford2017(py::module_& m);
void bind_logging(py::module_& m);
void bind_config(py::module_& m);
void bind_set_seed(py::module_& m);
void bind_bs_count(py::module_& m);
void bind_bs_samples(py::module_& m);
void bind_fs_distribution(py::module_& m);
void bind_sv_distribution(py::module_& m);
void bind_source_sampler(py::module_& m);
void bind_simple_source_iterator(py::module_& m);
void bind_source(py::module_& m);
void bind_sampling_simulator(py::module_& m);
void bind_strong_simulator(py::module_& m);

}  // namespace Python
