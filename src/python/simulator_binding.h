#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "detectors/a_detector.h"
#include "detectors/ppnr_detector.h"
#include "runtime/progress_callback.h"
#include "serialisation/detector_deserializer.h"

// The conversions the simulator classes share: detectors from serialised strings, the heralds,
// the progress callable and its interval.
namespace Python::simulator_binding {

namespace py = pybind11;

// One detector per string; the empty string is a perfect detector. Nothing is returned unless
// every string converts.
inline std::vector<std::shared_ptr<Detector::ADetector>> parse_serialized_detectors(
    std::vector<std::string> const& serialized) {
    std::vector<std::shared_ptr<Detector::ADetector>> detectors;
    detectors.reserve(serialized.size());
    for (auto const& bytes : serialized) {
        if (bytes.empty()) {
            detectors.push_back(std::make_shared<Detector::PPNRDetector>(0, 0, 1.0, "Perfect"));
            continue;
        }
        std::istringstream stream(bytes);
        detectors.push_back(Serial::DetectorDeserializer::deserialize(stream));
    }
    return detectors;
}

using HeraldMap = std::map<unsigned char, unsigned char>;

// A mapping of modes to expected photon counts, both integers from 0 to 255 (TypeError
// otherwise). Two keys that read as one mode (objects with __index__) would silently keep only
// one of their counts: ValueError.
inline HeraldMap heralds_from(py::handle value) {
    py::detail::make_caster<HeraldMap> caster;
    if (!caster.load(value, true))
        throw py::type_error("heralds must map modes to photon counts, integers from 0 to 255");
    HeraldMap heralds = py::detail::cast_op<HeraldMap&&>(std::move(caster));
    const py::dict given =
        py::isinstance<py::dict>(value)
            ? py::reinterpret_borrow<py::dict>(value)
            : py::dict(py::reinterpret_steal<py::object>(PyMapping_Items(value.ptr())));
    if (heralds.size() == given.size()) return heralds;
    std::set<int> seen;
    for (auto const& item : given) {
        const int mode = item.first.cast<unsigned char>();
        if (!seen.insert(mode).second)
            throw py::value_error(fmt::format("Herald mode {} is given more than once", mode));
    }
    return heralds;
}

// A new callable over the stored one (never the object that was assigned), or None.
inline py::object progress_getter(ProgressCallback::Function const& callback) {
    if (!callback) return py::none();
    return py::cpp_function(callback, py::arg("progress"), py::arg("message"));
}

// Seconds to whole milliseconds, truncated toward zero; values without a 64-bit count refused.
inline std::int64_t interval_ms(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    if (!(std::abs(ms) < 9.2e18))
        throw py::value_error(fmt::format("Invalid callback interval: {}", seconds));
    return static_cast<std::int64_t>(ms);
}

inline double interval_seconds(std::int64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

// The members both simulator classes have, in their registration order: set_detectors,
// get_physical_perf, get_logical_perf.
template <typename Simulator_t>
void def_detectors_and_perfs(py::class_<Simulator_t, py::smart_holder>& cls) {
    cls.def(
           "set_detectors",
           [](Simulator_t& self, std::vector<std::string> const& serialized) {
               self.set_detectors(parse_serialized_detectors(serialized));
           },
           py::arg("serialized_detectors"),
           "Set detectors to apply to each sample before the logical selection.\n"
           "The list must either be empty (no detectors applied, the same as all perfect "
           "detectors) or have the size of the circuit and input state.\n"
           ":param serialized_detectors: A list of detectors, serialized as binary strings.\n")
        .def("get_physical_perf", &Simulator_t::get_physical_perf,
             "Return the computed physical perf. Must be called after a call to the ``samples`` "
             "method.\n")
        .def("get_logical_perf", &Simulator_t::get_logical_perf,
             "Return the computed logical perf. Must be called after a call to the ``samples`` "
             "method.\n");
}

}  // namespace Python::simulator_binding
