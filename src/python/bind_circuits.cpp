#include <complex>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "circuits/circuit_optimization_fidelity.h"
#include "circuits/circuit_optimizer.h"
#include "circuits/rectangular_decomposer.h"
#include "python/bindings.h"
#include "python/numpy_casters.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"
#include "serialisation/circuit_deserializer.h"
#include "serialisation/circuit_serializer.h"

namespace Python {

namespace {

// Exact dtype and layout only: the one copy is the native matrix made from it.
using Target = CMatrix<MatrixView<std::complex<double>>>;

constexpr const char* optimizer_doc =
    "CircuitOptimizer fits a unitary matrix on an interferometer containing variable parameters.\n"
    "\n"
    "A gradient descent algorithm is used to get as close as possible to the unitary matrix. The "
    "distance between the target and the result is computed with fidelity.\n"
    "\n"
    ":param target_matrix: Unitary matrix to fit\n"
    ":param serial_circuit: Byte representation of a unitary circuit serialised with the "
    "specialised protobuf call\n"
    ":param empty_modes: Optional list of modes where there won't be any input. Knowing this "
    "information makes the gradient descent easier\n"
    "    (quicker, better fidelity on the remaining columns)";

constexpr const char* optimize_trials_doc =
    "Start the gradient descent algorithm multiple times, from arbitrary starting points.\n"
    "\n"
    ":param max_trials: Number of gradient descent algorithms to run (default 4). Several CPU "
    "cores may be used to run them parallely (see orbandile.Config for additional information)\n"
    ":return: Byte representation of the optimised circuit, serialised with the specialised "
    "protobuf call";

constexpr const char* optimize_guess_doc =
    "Start the gradient descent algorithm from guessed starting points.\n"
    "\n"
    ":param first_guess: Guessed optimized parameters\n"
    ":return: Byte representation of the optimised circuit, serialised with the specialised "
    "protobuf call";

py::bytes circuit_to_bytes(const Circuit::CompositeCircuit& circuit) {
    std::ostringstream out;
    Serial::CircuitSerializer::toStream(circuit, out);
    const std::string bytes = std::move(out).str();
    return py::bytes(bytes.data(), bytes.size());
}

std::unique_ptr<Circuit::CircuitOptimizer> make_optimizer(
    Target target, const std::string& serial_circuit, const std::vector<int>& empty_modes,
    std::optional<unsigned long> random_seed) {
    // Drawn in every case, so that building an optimiser always moves the thread's generator on.
    const unsigned long drawn = RNG::rng();
    std::istringstream in(serial_circuit);
    auto circuit = Serial::CircuitDeserializer::deserialize(in);
    auto problem = std::make_unique<Circuit::CircuitOptimizationFidelity>(Matrix(target.ref),
                                                                          circuit, empty_modes);
    return std::make_unique<Circuit::CircuitOptimizer>(std::move(problem),
                                                       random_seed.value_or(drawn));
}

}  // namespace

void bind_circuit_optimizer(py::module_& m) {
    using Circuit::CircuitOptimizer;
    py::class_<CircuitOptimizer, py::smart_holder> cls(m, "CircuitOptimizer");
    cls.def(py::init(&make_optimizer), py::arg("target_matrix").noconvert(),
            py::arg("serial_circuit"), py::arg("empty_modes") = std::vector<int>{},
            py::arg("random_seed") = py::none())
        .def(
            "optimize",
            [](CircuitOptimizer& self, std::uint32_t max_trials) {
                self.optimize(max_trials);
                return circuit_to_bytes(*self.generateBestCircuit());
            },
            optimize_trials_doc, py::arg("max_trials") = 4, CatchSigint())
        .def(
            "optimize",
            [](CircuitOptimizer& self, std::vector<double> first_guess) {
                self.optimize(std::move(first_guess));
                return circuit_to_bytes(*self.generateBestCircuit());
            },
            optimize_guess_doc, py::arg("first_guess") = std::vector<double>{}, CatchSigint())
        .def("set_threshold", &CircuitOptimizer::setThreshold,
             "Set a fidelity threshold.\n\nGradient descent algorithm will try to match this "
             "threshold before stopping.\n\n:param threshold: Fidelity threshold (typically 1e-6)",
             py::arg("threshold"))
        .def(
            "set_max_time_per_trial", &CircuitOptimizer::setMaxTimePerTrial,
            "Set a time limit for a single gradient descent.\n\n:param max_time: Time (in seconds) "
            "which stops the trial when exceeded",
            py::arg("max_time"))
        .def("set_max_eval_per_trial", &CircuitOptimizer::setMaxEvalPerTrial,
             "Set a maximum number of iterations in a single gradient descent.\n\n:param max_eval: "
             "Number of iterations which stops a trial when exceeded",
             py::arg("max_eval"))
        .def_property_readonly(
            "fidelity",
            [](const CircuitOptimizer& self) { return 1.0 - self.result().getFitness(); },
            ":return: The computed fidelity for the latest optimisation");
    cls.doc() = optimizer_doc;
}

void bind_rectangular_decomposer(py::module_& m) {
    using Circuit::RectangularDecomposer;
    py::class_<RectangularDecomposer, py::smart_holder>(m, "RectangularDecomposer")
        .def(py::init<double>(), py::arg("precision") = 1e-6)
        .def(
            "decompose",
            [](RectangularDecomposer& self, Target target, bool add_phase_correction) {
                self.decompose(Matrix(target.ref));
                return circuit_to_bytes(*self.getInterferometer(add_phase_correction));
            },
            py::arg("target").noconvert(), py::arg("add_phase_correction") = false, CatchSigint())
        .def(
            "get_interferometer",
            [](const RectangularDecomposer& self, bool add_phase_correction) {
                return circuit_to_bytes(*self.getInterferometer(add_phase_correction));
            },
            py::arg("add_phase_correction") = false)
        .def("set_precision", &RectangularDecomposer::setPrecision, py::arg("precision"))
        .def("get_precision", &RectangularDecomposer::getPrecision);
}

}  // namespace Python
