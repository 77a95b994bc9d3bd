#include <cstdint>
#include <string>

#include "python/bindings.h"
#include "runtime/config.h"
#include "runtime/logging.h"
#include "runtime/rng.h"

namespace Python {

namespace {

constexpr const char* config_doc = R"doc(Orbandile global configuration

All members are static: no instance is needed, read and write them on the class itself.

- compute_max_thread_count: maximum number of CPU threads used by parallel algorithms. By default
  (0), as many cores as possible. Used by CircuitOptimizer, the Clifford & Clifford sampling
  back-end, permanent computation, the Gurvits permanent estimate and the noisy sampling simulator.
- use_single_precision: switches between 32-bit and 64-bit floating point for the algorithms that
  support it (only the Clifford & Clifford back-end for now).
- unitary_check_precision: tolerance of the unitarity test of matrices. Default is the same value
  as in numpy (1e-6).

>>> import orbandile as ob
>>> ob.Config.unitary_check_precision = 1e-4
)doc";

constexpr const char* set_seed_doc =
    "Fix a seed in the random number generator through the whole library.\n"
    "This call is thread safe and parallel computations are deterministic once a seed has been "
    "set.\n"
    "\n"
    ":param seed: The seed value\n";

template <spdlog::level::level_enum level>
void log_at(const std::string& message, Logging::Channel channel) {
    Logging::log(channel, level, "{}", message);
}

}  // namespace

void bind_logging(py::module_& m) {
    py::class_<Logging> logging(m, "logging");
    py::enum_<spdlog::level::level_enum>(logging, "level")
        .value("debug", spdlog::level::debug)
        .value("info", spdlog::level::info)
        .value("warn", spdlog::level::warn)
        .value("err", spdlog::level::err)
        .value("critical", spdlog::level::critical)
        .value("off", spdlog::level::off);
    py::enum_<Logging::Channel>(logging, "channel")
        .value("general", Logging::general)
        .value("resources", Logging::resources)
        .value("user", Logging::user);

    const auto general = py::arg_v("channel", Logging::general, "logging.channel.general");
    logging
        .def_static(
            "initialize",
            [](const std::string& path, spdlog::level::level_enum level) {
                Logging::initialize(path, level);
            },
            "This method must be called prior to any use of the class",
            py::arg("log_filepath") = "",
            py::arg_v("initial_level", spdlog::level::info, "logging.level.info"))
        .def_static("enable_file", &Logging::enableFile)
        .def_static("disable_file", &Logging::disableFile)
        .def_static("enable_console", &Logging::enableConsole)
        .def_static("disable_console", &Logging::disableConsole)
        .def_static(
            "set_level",
            [](spdlog::level::level_enum level, Logging::Channel channel) {
                Logging::setLevel(channel, level);
            },
            py::arg("level"), general)
        .def_static("debug", &log_at<spdlog::level::debug>, py::arg("message"), general)
        .def_static("info", &log_at<spdlog::level::info>, py::arg("message"), general)
        .def_static("warn", &log_at<spdlog::level::warn>, py::arg("message"), general)
        .def_static("error", &log_at<spdlog::level::err>, py::arg("message"), general)
        .def_static("critical", &log_at<spdlog::level::critical>, py::arg("message"), general);
}

void bind_config(py::module_& m) {
    py::class_<Config>(m, "Config", config_doc)
        .def_property_static(
            "compute_max_thread_count", [](py::object) { return config.compute_max_thread_count; },
            // Python's -1 is kept as its 32-bit pattern, read back as 4294967295.
            [](py::object, std::int32_t value) {
                config.compute_max_thread_count = static_cast<std::uint32_t>(value);
            })
        .def_property_static(
            "use_single_precision", [](py::object) { return config.use_single_precision; },
            [](py::object, bool value) { config.use_single_precision = value; })
        .def_property_static(
            "unitary_check_precision", [](py::object) { return config.unitary_check_precision; },
            [](py::object, double value) { config.unitary_check_precision = value; });
}

void bind_set_seed(py::module_& m) {
    m.def(
        "set_seed", [](std::uint32_t seed) { RNG::rng.seed(seed); }, set_seed_doc, py::arg("seed"));
}

}  // namespace Python
