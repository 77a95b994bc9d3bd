#include <exception>

#include <fmt/format.h>
#include <pybind11/pybind11.h>

#include "python/bindings.h"
#include "python/uninitialised.h"
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

// Pickle protocols 0 and 1, and a direct call of `__reduce__`, reduce through copyreg, which
// builds an instance of the bare binding base type and aborts the interpreter. Both entry points
// reduce as protocol 2 does, without going through `object.__reduce_ex__` (it would call the
// overridden `__reduce__` again): classes with their own state (the enumerations) pickle through
// it, the others raise protocol 2's TypeError. They are set on the common base, so that they also
// reach the iterator types registered on first use.
py::object reduce_as_protocol_2(py::handle self) {
    const py::handle type = py::type::handle_of(self);
    const py::object object_getstate =
        py::getattr(reinterpret_cast<PyObject*>(&PyBaseObject_Type), "__getstate__", py::none());
    const py::object getstate = py::getattr(type, "__getstate__", py::none());
    if (!getstate.is_none() && !getstate.is(object_getstate))
        return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"),
                              py::make_tuple(type), self.attr("__getstate__")(), py::none(),
                              py::none());
    throw py::type_error(fmt::format("cannot pickle '{}' object",
                                     reinterpret_cast<PyTypeObject*>(type.ptr())->tp_name));
}

void reduce_old_protocols_as_protocol_2(py::handle base) {
    base.attr("__reduce_ex__") =
        py::cpp_function([](py::handle self, int) { return reduce_as_protocol_2(self); },
                         py::name("__reduce_ex__"), py::is_method(base), py::arg("protocol"));
    base.attr("__reduce__") =
        py::cpp_function(&reduce_as_protocol_2, py::name("__reduce__"), py::is_method(base));
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
    refuse_uninitialised_instances();
}
