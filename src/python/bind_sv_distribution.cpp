#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <pybind11/stl.h>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/state_vector_distribution.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "python/snapshot_iterator.h"
#include "states/basic_state.h"
#include "states/fock_state.h"
#include "states/state_vector.h"

namespace Python {

namespace {

constexpr const char* sv_distribution_doc =
    "State vector distribution holding pure states (i.e. state vectors). This class is one way of "
    "representing a mixed state.\n\nThe ``SVDistribution`` can be build via any of the following "
    "parameters:\n\n:param fs: (optional) build from a single Fock state which gets a probability "
    "of 1.\n:param sv: (optional) build from a single state vector which gets a probability of "
    "1.\n:param bsd: (optional) build from an existing dictionary or distribution where keys are "
    "perfect Fock states.\n:param svd: (optional) build from an existing dictionary or "
    "distribution where keys are state vectors.\n";
constexpr const char* sv_get_doc =
    "Retrieve the probability for a given state, with a default value if the state doesn't exist "
    "in the distribution.\n\n:param sv: State to search\n:param default: Default probability "
    "value (defaults to None)\n:return: The state probability, if found, the default value "
    "otherwise\n";
constexpr const char* sv_add_doc =
    "Increment the probability of a given state. If the state doesn't exist beforehand, use the "
    "given probability. Probabilities that are too low (1e-16) are discarded.\n\n:param sv: State "
    "vector\n:param value: Probability\n";
constexpr const char* sv_items_doc =
    "Iterate over tuples of (state vector, probability) contained in the distribution";
constexpr const char* sv_keys_doc = "Iterate over state vectors contained in the distribution";
constexpr const char* sv_tensor_product_doc =
    "Compute the tensor product of two distributions\n\n:param svd1: Left hand-side "
    "distribution\n:param svd2: Right hand-side distribution\n:param prob_threshold: Threshold "
    "under which probabilities are discarded during the tensor product (defaults to ``0.``, i.e. "
    "no probability is discarded).\n:return: The result of the tensor product\n";
constexpr const char* sv_list_tensor_product_doc =
    "Compute a series of tensor product between distributions\n\n:param distributions: List of "
    "distributions\n:param prob_threshold: Threshold under which probabilities are discarded "
    "during the tensor product (defaults to ``0.``, i.e. no probability is discarded).\n:return: "
    "The result of the tensor product\n";
constexpr const char* sv_normalize_doc =
    "Normalize the probabilities in place (i.e. their sum is equal to 1)";
constexpr const char* sv_n_max_doc =
    ":return: The maximum number of photons in any state of the distribution";
constexpr const char* sv_sample_doc =
    "Generate an ordered list of state vectors from the distribution.\n\n:param count: Number of "
    "expected state vectors\n:param non_null: If ``True`` avoids returning in void state (i.e. "
    "state containing 0 photon). Defaults to ``True``.\n:return: A list of state vectors "
    "following the probability distribution\n";
constexpr const char* values_doc = "Iterate over the probabilities contained in the distribution";
constexpr const char* m_doc = ":return: The number of modes of all states in the distribution";

// Absent keys are a KeyError naming the key as the caller gave it.
template <typename Key>
void erase(StateVectorDistribution& d, StateVector const& sv, Key const& key) {
    if (!d.erase(sv)) throw py::key_error(fmt::format("{}", key));
}

}  // namespace

void bind_sv_distribution(py::module_& m) {
    using SVD = StateVectorDistribution;

    py::class_<SVD> cls(m, "SVDistribution");
    cls.def(py::init<>(), "empty distribution")
        .def(py::init([](BasicState state) { return SVD(StateVector(std::move(state))); }),
             py::arg("fs"), "constructor from existing fockstate")
        .def(py::init([](StateVector const& sv) { return SVD(sv); }), py::arg("sv"),
             "constructor from existing StateVector")
        .def(py::init([](std::unordered_map<BasicState, double> const& bsd) { return SVD(bsd); }),
             py::arg("bsd"), "constructor from dict of BasicStates")
        .def(py::init([](SVD::map_t svd) { return SVD(std::move(svd)); }), py::arg("svd"),
             "constructor from dict of StateVectors")
        .def(py::init([](FockSpaceDistribution const& bsd) { return SVD(bsd); }), py::arg("bsd"),
             "constructor from existing BSD")
        .def(py::init([](SVD const& d) { return SVD(d); }), py::arg("svd"),
             "constructor from existing SVD")
        .def("__copy__", [](SVD const& d) { return SVD(d); })
        .def("__deepcopy__", [](SVD const& d, py::dict) { return SVD(d); })
        .def(
            "__getitem__",
            [](SVD const& d, BasicState const& state) { return d.get(StateVector(state)); },
            py::arg("fs"))
        .def("__getitem__", &SVD::get, py::arg("sv"))
        .def(
            "get",
            [](SVD const& d, StateVector const& sv,
               std::optional<double> fallback) -> std::optional<double> {
                const std::optional<double> p = d.find(sv);
                return p ? p : fallback;
            },
            py::arg("sv"), py::arg("default") = py::none(), sv_get_doc)
        .def(
            "__setitem__",
            [](SVD& d, BasicState const& state, double value) { d.set(StateVector(state), value); },
            py::arg("fs"), py::arg("value"))
        .def("__setitem__", &SVD::set, py::arg("sv"), py::arg("value"))
        .def(
            "__delitem__",
            [](SVD& d, BasicState const& state) { erase(d, StateVector(state), state); },
            py::arg("fs"))
        .def("__delitem__", [](SVD& d, StateVector const& sv) { erase(d, sv, sv); })
        .def("add", &SVD::add, py::arg("sv"), py::arg("value"), sv_add_doc)
        .def(
            "add",
            [](SVD& d, BasicState const& state, double value) { d.add(StateVector(state), value); },
            py::arg("fs"), py::arg("value"))
        .def(
            "__contains__",
            [](SVD const& d, BasicState const& state) { return d.contains(StateVector(state)); },
            py::arg("sv"))
        .def("__contains__", &SVD::contains, py::arg("sv"))
        .def("__len__", &SVD::size)
        .def(
            "items", [](SVD const& d) { return iterate_items(d); }, py::keep_alive<0, 1>(),
            sv_items_doc)
        .def(
            "keys", [](SVD const& d) { return iterate_keys(d); }, py::keep_alive<0, 1>(),
            sv_keys_doc)
        .def(
            "values", [](SVD const& d) { return iterate_values(d); }, py::keep_alive<0, 1>(),
            values_doc)
        .def(
            "__iter__", [](SVD const& d) { return iterate_keys(d); }, py::keep_alive<0, 1>())
        .def("__repr__", [](SVD const& d) { return fmt::format("{}", d); })
        .def("__str__", [](SVD const& d) { return fmt::format("{}", d); })
        .def(
            "__eq__", [](SVD const& a, SVD const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](SVD const& a, SVD const& b) { return a != b; }, py::is_operator())
        .def(
            "__mul__", [](SVD const& d, FockState const& s) { return d * BasicState(s); },
            py::is_operator())
        .def(
            "__mul__", [](SVD const& d, NoisyFockState const& s) { return d * BasicState(s); },
            py::is_operator())
        .def(
            "__mul__", [](SVD const& d, AnnotatedFockState const& s) { return d * BasicState(s); },
            py::is_operator())
        .def(
            "__mul__", [](SVD const& d, StateVector const& sv) { return d * sv; },
            py::is_operator())
        .def(
            "__mul__", [](SVD const& a, SVD const& b) { return a * b; }, py::is_operator(),
            CatchSigint())
        .def(
            "__rmul__", [](SVD const& d, FockState const& s) { return BasicState(s) * d; },
            py::is_operator())
        .def(
            "__rmul__", [](SVD const& d, NoisyFockState const& s) { return BasicState(s) * d; },
            py::is_operator())
        .def(
            "__rmul__", [](SVD const& d, AnnotatedFockState const& s) { return BasicState(s) * d; },
            py::is_operator())
        .def(
            "__rmul__", [](SVD const& d, StateVector const& sv) { return sv * d; },
            py::is_operator())
        .def(
            "__imul__",
            [](SVD& d, FockState const& s) -> SVD& { return d *= StateVector(BasicState(s)); },
            py::is_operator())
        .def(
            "__imul__",
            [](SVD& d, NoisyFockState const& s) -> SVD& { return d *= StateVector(BasicState(s)); },
            py::is_operator())
        .def(
            "__imul__",
            [](SVD& d, AnnotatedFockState const& s) -> SVD& {
                return d *= StateVector(BasicState(s));
            },
            py::is_operator())
        .def(
            "__imul__", [](SVD& d, StateVector const& sv) -> SVD& { return d *= sv; },
            py::is_operator())
        .def(
            "__imul__", [](SVD& d, SVD const& other) -> SVD& { return d *= other; },
            py::is_operator())
        .def(
            "__pow__", [](SVD const& d, unsigned long k) { return d.pow(k); }, CatchSigint())
        .def_static(
            "tensor_product",
            [](SVD const& svd1, SVD const& svd2, double prob_threshold) {
                return tensor_product(svd1, svd2, prob_threshold);
            },
            py::arg("svd1"), py::arg("svd2"), py::arg("prob_threshold") = 0.0,
            sv_tensor_product_doc, CatchSigint())
        .def_static(
            "tensor_product",
            [](std::vector<SVD> const& distributions, double prob_threshold) {
                return tensor_product(distributions, prob_threshold);
            },
            py::arg("distributions"), py::arg("prob_threshold") = 0.0, sv_list_tensor_product_doc,
            CatchSigint())
        .def("normalize", &SVD::normalize, sv_normalize_doc)
        .def_property_readonly(
            "m",
            [](SVD const& d) -> std::optional<int> {
                if (d.empty()) return std::nullopt;
                return d.begin()->first.modeCount();
            },
            m_doc)
        .def_property_readonly(
            "n_max", [](SVD const& d) { return d.n_max(); }, sv_n_max_doc)
        .def("sample", &SVD::sample, py::arg("count"), py::arg("non_null") = true, sv_sample_doc);
    cls.attr("__doc__") = sv_distribution_doc;
}

}  // namespace Python
