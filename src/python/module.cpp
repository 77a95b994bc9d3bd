#include <algorithm>
#include <exception>

#include <pybind11/pybind11.h>

#include "python/bindings.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"

namespace py = pybind11;

namespace {

void translate_keyboard_interrupt(std::exception_ptr exception) {
    if (!exception) return;
    try {
        std::rethrow_exception(exception);
    } catch (const KeyboardInterruptException& e) {
        PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
    }
}

// Pickle protocols 0 and 1 reduce through copyreg, which builds an instance of the bare binding
// base type and aborts the interpreter. Reducing as protocol 2 does gives the same clean
// TypeError at every protocol and lets the enumerations pickle through their int value. It is set
// on the common base, so that it also reaches the iterator types registered on first use.
void reduce_old_protocols_as_protocol_2(py::handle base) {
    base.attr("__reduce_ex__") = py::cpp_function(
        [](py::handle self, int protocol) {
            return py::handle(reinterpret_cast<PyObject*>(&PyBaseObject_Type))
                .attr("__reduce_ex__")(self, std::max(protocol, 2));
        },
        py::name("__reduce_ex__"), py::is_method(base), py::arg("protocol"));
}

}  // namespace

// The registration order is part of the interface: a signature names a class by its Python
// name only when that class was registered before it.
PYBIND11_MODULE(orbandile, m, py::multiple_interpreters::not_supported()) {
    py::register_exception_translator(&translate_keyboard_interrupt);
    // Only cleared here: the SIGINT handler is installed by long calls for their duration.
    InterruptSignalHandler::interrupted.exchange(false);
    m.attr("__doc__") = "Optimized C++ classes and functions";
    m.attr("__version__") = ORBANDILE_VERSION;

    using namespace Python;
    bind_permanent_functions(m);
    bind_annotation(m);
    bind_parsed_basic_state(m);
    bind_annotated_fock_state(m);
    bind_fock_state(m);
    bind_noisy_fock_state(m);
    bind_state_vector(m);
    bind_fock_space_containers(m);
    bind_post_select(m);
    bind_circuit_optimizer(m);
    bind_rectangular_decomposer(m);
    bind_slos_backends(m);
    bind_slap_backend(m);
    bind_clifford2017(m);
    bind_logging(m);
    bind_config(m);
    bind_set_seed(m);
    bind_bs_count(m);
    bind_bs_samples(m);
    bind_fs_distribution(m);
    bind_sv_distribution(m);
    bind_source_sampler(m);
    bind_simple_source_iterator(m);
    bind_source(m);
    bind_sampling_simulator(m);
    bind_strong_simulator(m);

    reduce_old_protocols_as_protocol_2(py::detail::get_internals().instance_base);
}
