#include <vector>

#include <fmt/format.h>
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include "fockspace/state_vector_distribution.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "python/polled_list.h"
#include "python/uninitialised.h"
#include "runtime/memory_limit.h"
#include "simulators/simple_source_iterator.h"
#include "simulators/source.h"
#include "simulators/source_sampler.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"

namespace Python {

namespace {

constexpr const char* source_doc =
    "Definition of a source\n"
    "\n"
    "The source is described by a phenomenological model of an imperfect quantum-dot "
    "single-photon source. Each photon of the expected input marks an emission slot in its mode; "
    "for each slot independently, the source emits a single photon, a single photon together with "
    "an additional photon (the multi-photon component), or nothing, and every emitted photon may "
    "then be lost.\n"
    "\n"
    "The input multi-photon state is built as the statistical mixture of the Fock states these "
    "slots produce. Photons that are not perfectly indistinguishable carry noise tags: photons "
    "sharing a tag interfere, photons with different tags do not.\n"
    "\n"
    ":param emission_probability: probability that the source emits at least one photon\n"
    ":param multiphoton_component: second order intensity autocorrelation at zero time delay "
    ":math:`g^{(2)}(0)`\n"
    ":param indistinguishability: 2-photon mean wavepacket overlap\n"
    ":param losses: optical losses\n"
    ":param g2_distinguishable: True if additional photons are distinguishable, False otherwise\n";
constexpr const char* generate_distribution_doc =
    "Simulates plugging the photonic source on certain modes and turning it on.\n"
    "Computes the input probability distribution\n"
    "\n"
    ":param expected_input: Expected input basic state, which a perfect source always delivers; "
    "an imperfect source alters it\n"
    ":param prob_threshold: Probability under which a resulting state is filtered out\n";
constexpr const char* create_sampler_doc =
    "Creates a SourceSampler that will be able to sample states according to this source input "
    "probability\n"
    "distribution for the given expected input, without generating the distribution.\n"
    "\n"
    ":param expected_input: Photons are generated where the photons of this state are\n"
    ":param min_photons_filter: Minimum number of photons of the states to generate\n"
    ":return: A SourceSampler for this source\n";
constexpr const char* partially_distinguishable_doc =
    ":return: ``True`` if the source needs to use NoisyStates to describe the distribution, "
    "``False`` otherwise (only FockStates)";
constexpr const char* is_perfect_doc =
    ":return: ``True`` if the source is perfect (the distribution consists of the expected state "
    "with probability one), ``False`` otherwise";

constexpr const char* sampler_doc =
    "The Sampler class is dedicated to sample according to a source distribution by using a "
    "simplified, source-specific structure,\n"
    "which makes it lighter and faster than generating the distribution.\n"
    "The Sampler must be created with the ``Source.create_sampler`` method.\n"
    "\n"
    ">>> source = Source(0.9, 0.03, 0.8)\n"
    ">>> sampler = source.create_sampler(FockState([1, 0, 1]), 1)\n"
    ">>> for state in sampler.generate_samples(5):\n"
    "...     print(state)\n"
    "|{0},0,{0}>\n"
    "|{0},0,{1}>\n"
    "|{0},0,{0}>\n"
    "|0,0,{0}>\n"
    "|{0},0,{0}>\n";
constexpr const char* generate_samples_doc =
    "Generates n_samples NoisyStates according to the source distribution for this sampler "
    "expected input.\n\n:param n_samples: the number of states to generate\n:return: a list of "
    "n_samples NoisyStates\n";
constexpr const char* generate_separated_samples_doc =
    "Generates input states from a noisy mixed state\n"
    "\n"
    "Each generated input is the result of ``NoisyFockState.separate_state`` on a state drawn "
    "from the source distribution for this sampler expected input. A simplified procedure makes "
    "it faster than calling ``generate_samples`` and ``separate_state``.\n"
    "\n"
    ":param n_samples: the number of separated states to generate\n"
    ":return: a list of n_samples BSSamples\n";
constexpr const char* zpp_doc =
    ":return: The probability of the 0-photon state in the original distribution.";
constexpr const char* physical_perf_doc =
    ":return: The probability, in the source distribution, of the states having at least "
    "min_photons_filter photons.";
constexpr const char* min_photons_filter_doc =
    ":return: The minimum number of wanted photons. States having less than this number of "
    "photons will not be generated.";
constexpr const char* expected_input_doc = ":return: The target state that will be sampled from.";

// What each sample becomes in Python besides the native list it is converted from, as measured
// with CPython 3.11: an object holding a copy of the state, or a list of such objects.
constexpr double python_sample_bytes = 270;
constexpr double python_separated_sample_bytes = 140;

// The native call weighs its own list; the objects it turns into are weighed here.
void check_python_objects_fit(int count, double bytes_per_sample) {
    MemoryLimit::check_fits(count * bytes_per_sample, fmt::format("{} samples", count));
}

}  // namespace

void bind_source_sampler(py::module_& m) {
    py::class_<SourceSampler, py::smart_holder>(m, "SourceSampler", sampler_doc)
        .def("__copy__", [](SourceSampler const& s) { return SourceSampler(s); })
        .def("__deepcopy__", [](SourceSampler const& s, py::dict) { return SourceSampler(s); })
        .def(
            "generate_samples",
            [](SourceSampler const& s, int n_samples) {
                check_python_objects_fit(n_samples, python_sample_bytes);
                return polled_list(s.generate_samples(n_samples));
            },
            py::arg("n_samples"), generate_samples_doc, CatchSigint())
        .def(
            "generate_separated_samples",
            [](SourceSampler const& s, int n_samples) {
                check_python_objects_fit(n_samples, python_separated_sample_bytes);
                return polled_list(s.generate_separated_samples(n_samples));
            },
            py::arg("n_samples"), generate_separated_samples_doc, CatchSigint())
        .def_property_readonly("zpp", &SourceSampler::zpp, zpp_doc)
        .def_property_readonly("physical_perf", &SourceSampler::physical_perf, physical_perf_doc)
        .def_property_readonly(
            "min_photons_filter",
            [](SourceSampler const& s) { return static_cast<double>(s.min_photons_filter()); },
            min_photons_filter_doc)
        .def_property_readonly(
            "expected_input", [](SourceSampler const& s) { return s.expected_input(); },
            expected_input_doc);
}

void bind_simple_source_iterator(py::module_& m) {
    using Range = SimpleSourceIterator;
    py::class_<Range, py::smart_holder>(m, "SimpleSourceIterator")
        .def("__copy__", [](Range const& r) { return Range(r); })
        .def("__deepcopy__", [](Range const& r, py::dict) { return Range(r); })
        .def(
            "__iter__",
            [](Range const& r) {
                return refusing_uninitialised(
                    py::make_iterator<py::return_value_policy::copy>(r.begin(), r.end()));
            },
            py::keep_alive<0, 1>())
        .def_property("prob_threshold", &Range::prob_threshold, &Range::set_prob_threshold)
        .def_property_readonly("max_p", &Range::max_p)
        .def_property_readonly("physical_perf", &Range::physical_perf)
        .def_property_readonly(
            "min_photons_filter",
            [](Range const& r) { return static_cast<double>(r.min_photons_filter()); })
        .def_property_readonly("expected_input", [](Range const& r) { return r.expected_input(); });
}

void bind_source(py::module_& m) {
    py::class_<Source, py::smart_holder>(m, "Source", source_doc)
        .def(py::init<double, double, double, double, bool>(),
             py::arg("emission_probability") = 1.0, py::arg("multiphoton_component") = 0.0,
             py::arg("indistinguishability") = 1.0, py::arg("losses") = 0.0,
             py::arg("g2_distinguishable") = true, "Generic source constructor")
        .def(py::self == py::self)
        .def("__copy__", [](Source const& s) { return Source(s); })
        .def("__deepcopy__", [](Source const& s, py::dict) { return Source(s); })
        .def("generate_distribution", &Source::generate_distribution, py::arg("expected_input"),
             py::arg("prob_threshold") = 0.0, generate_distribution_doc, CatchSigint())
        .def("create_sampler", &Source::create_sampler, py::arg("expected_input"),
             py::arg("min_photons_filter") = 0, create_sampler_doc, CatchSigint())
        .def("create_simple_iterator", &Source::create_simple_iterator, py::arg("expected_input"),
             py::arg("min_photons_filter") = 0, CatchSigint())
        .def_property_readonly("partially_distinguishable", &Source::is_partially_distinguishable,
                               partially_distinguishable_doc)
        .def_property_readonly("is_perfect", &Source::is_perfect, is_perfect_doc)
        .def_property_readonly("emission_probability", &Source::emission_probability)
        .def_property_readonly("multiphoton_component", &Source::multiphoton_component)
        .def_property_readonly("indistinguishability", &Source::indistinguishability)
        .def_property_readonly("losses", &Source::losses)
        .def_property_readonly("is_g2_distinguishable", &Source::g2_distinguishable);
}

}  // namespace Python
