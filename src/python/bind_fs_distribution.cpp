#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <pybind11/stl.h>

#include "fockspace/distribution_products.h"
#include "fockspace/distribution_simplification.h"
#include "fockspace/fock_space_distribution.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/fs_array.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "python/snapshot_iterator.h"
#include "states/fock_state.h"

namespace Python {

namespace {

constexpr const char* fs_distribution_doc =
    "Fock state distribution holding measured states (i.e. perfect Fock states), of the same size "
    "(number of modes).\nNegative values are discarded, then the distribution is normalized.\nThe "
    "class is then immutable, it can be moved into a FSFunction to allow modifications.\n\nThe "
    "``FSDistribution`` can be build via any of the following parameters:\n\n:param fs: "
    "(optional) build from a single state which gets a probability of 1.\n:param fsd: (optional) "
    "build from an existing dictionary or distribution. Keys have to be perfect Fock states.\n"
    ":param fsa: (optional) a `FSArray` requiring a same size probability vector\n:param probs: "
    "(optional) the probability vector working with parameter `fsa`\n";
constexpr const char* fs_function_doc =
    "Fock state function holding measured states (i.e. perfect Fock states), of the same size "
    "(number of modes).\n\nThe ``FSFunction`` can be build via any of the following "
    "parameters:\n\n:param fsf: (optional) build from an existing dictionary or FSFunction. Keys "
    "have to be perfect Fock states.\n:param fsa: (optional) a `FSArray` requiring a same size "
    "values vector\n:param probs: (optional) the values vector working with parameter `fsa`\n";
constexpr const char* items_doc =
    "Iterate over tuples of (Fock states, probability) contained in the distribution";
constexpr const char* keys_doc = "Iterate over Fock states contained in the distribution";
constexpr const char* values_doc = "Iterate over the probabilities contained in the distribution";
constexpr const char* m_doc = ":return: The number of modes of all states in the distribution";
constexpr const char* sample_doc =
    "Generate an ordered list of samples from the distribution.\n\n:param count: Number of "
    "expected samples\n:param non_null: If ``True`` avoids returning in void state (i.e. state "
    "containing 0 photon). Defaults to ``True``.\n:return: A list of samples following the "
    "probability distribution\n";
constexpr const char* photon_threshold_doc =
    "Applies a maximum photon per mode threshold to all states in the distribution.\n\n:param "
    "photon_threshold: Max number of photons allowed per mode. Any bigger value will be changed "
    "to ``photon_threshold``\n:return: The thresholded distribution\n";
constexpr const char* group_modes_doc =
    "Group modes by merging their contents in shorter states within the whole distribution.\n\n"
    "This call can be used to perform coarse grain comparison between two very large "
    "distributions\n\n:param group_size: Size of mode groups to consider (e.g. if 2, `|1,1,3,4>` "
    "gives `|2,7>`)\n:return: The resulting distribution\n";
constexpr const char* trim_doc =
    "Remove all entries for which ``abs(value)`` is below ``threshold``.\n\n:threshold: "
    "threshold\n";
constexpr const char* trim_relative_doc =
    "Remove all entries whose value is below ``relative_threshold * max_proba``, where "
    "``max_proba`` is the current maximal value in the distribution.\nThen the distribution is "
    "normalized again.\n\n:relative_threshold: threshold\n";
constexpr const char* tensor_product_doc =
    "Compute the tensor product of two distributions\n\n:param bsd1: Left hand-side "
    "distribution\n:param bsd2: Right hand-side distribution\n:param merge_modes: If ``True``, "
    "resulting states will merge their modes (both distribution must contain states of the same "
    "size).\n                    Apply a standard tensor product otherwise (defaults to "
    "``False``)\n:param prob_threshold: Threshold under which probabilities are discarded during "
    "the tensor product (defaults to ``0.``, i.e. no probability is discarded).\n:return: The "
    "result of the tensor product\n";
constexpr const char* list_tensor_product_doc =
    "Compute a series of tensor product between distributions\n\n:param distributions: List of "
    "distributions\n:param merge_modes: If ``True``, resulting states will merge their modes "
    "(both distribution must contain states of the same size).\n                    Apply a "
    "standard tensor product otherwise (defaults to ``False``)\n:param prob_threshold: Threshold "
    "under which probabilities are discarded during the tensor product (defaults to ``0.``, i.e. "
    "no probability is discarded).\n:return: The result of the tensor product\n";

// `m`, then the pairwise and list products, which both distribution classes register in this order.
template <typename T>
void def_mode_count_and_products(py::class_<T>& cls) {
    cls.def_property_readonly(
           "m", [](T const& t) { return t.get_m(); }, m_doc)
        .def_static(
            "tensor_product",
            [](T const& bsd1, T const& bsd2, bool merge_modes, double prob_threshold) {
                return merge_modes ? merge_product(bsd1, bsd2, prob_threshold)
                                   : tensor_product(bsd1, bsd2, prob_threshold);
            },
            py::arg("bsd1"), py::arg("bsd2"), py::arg("merge_modes") = false,
            py::arg("prob_threshold") = 0.0, tensor_product_doc, CatchSigint())
        .def_static(
            "list_tensor_product",
            [](std::vector<T> const& distributions, bool merge_modes, double prob_threshold) {
                return merge_modes ? merge_product(distributions, prob_threshold)
                                   : tensor_product(distributions, prob_threshold);
            },
            py::arg("distributions"), py::arg("merge_modes") = false,
            py::arg("prob_threshold") = 0.0, list_tensor_product_doc, CatchSigint());
}

}  // namespace

void bind_fs_distribution(py::module_& m) {
    using Map = std::unordered_map<FockState, double>;
    using FSD = FockSpaceDistribution;
    using FSF = FockSpaceFunction;

    // Both classes exist before any member, so that signatures name the other class.
    py::class_<FSD> fsd(m, "FSDistribution");
    py::class_<FSF> fsf(m, "FSFunction");

    fsd.def(py::init([](FockState const& fs) { return FSD(fs); }), py::arg("fs"),
            "constructor from existing fockstate")
        .def(py::init([](Map map) { return FSD(std::move(map), false, 0.0); }), py::arg("bsd"),
             "constructor from dict of FockStates")
        .def(py::init([](FSD const& d) { return FSD(d); }), py::arg("bsd"),
             "constructor from existing FSDistribution")
        .def(py::init([](FsArray const& fsa, std::vector<double> const& probs) {
                 return FSD(fsa, probs, 0.0);
             }),
             py::arg("fsa"), py::arg("probs"), "constructor from FsArray and list of probabilities")
        .def(py::init([](FSF const& f) { return f.toFSD(0.0); }), py::arg("bsf"),
             "constructor from existing FSFunction")
        .def("__copy__", [](FSD const& d) { return FSD(d); })
        .def("__deepcopy__", [](FSD const& d, py::dict) { return FSD(d); })
        .def(
            "to_function", [](FSD const& d) { return d.toFockSpaceFunction(); },
            "convert to an editable FSFunction")
        .def(
            "move_to_function", [](FSD& d) { return std::move(d).toFockSpaceFunction(); },
            "transfer into an editable FSFunction - the current FSDistribution is cleared")
        .def(
            "__getitem__",
            [](FSD const& d, FockState const& fs) {
                d.check_m(fs);
                return d.get(fs);
            },
            py::arg("fs"))
        .def(
            "items", [](FSD const& d) { return iterate_items(d); }, py::keep_alive<0, 1>(),
            items_doc)
        .def(
            "keys", [](FSD const& d) { return iterate_keys(d); }, py::keep_alive<0, 1>(), keys_doc)
        .def(
            "values", [](FSD const& d) { return iterate_values(d); }, py::keep_alive<0, 1>(),
            values_doc)
        .def(
            "__iter__", [](FSD const& d) { return iterate_keys(d); }, py::keep_alive<0, 1>())
        .def(
            "__contains__",
            [](FSD& d, FockState const& fs) {
                d.check_m(fs);
                return d.contains(fs);
            },
            py::arg("fs"))
        .def("__len__", &FSD::size)
        .def("__repr__", [](FSD const& d) { return fmt::format("{}", d); })
        .def("__str__", [](FSD const& d) { return fmt::format("{}", d); })
        .def("__pow__", &FSD::pow, CatchSigint())
        .def(
            "sample",
            [](FSD const& d, std::size_t count, bool non_null) {
                return d.sample(count, !non_null);
            },
            py::arg("count"), py::arg("non_null") = true, sample_doc)
        .def("photon_threshold_simplification", &photon_threshold_simplification,
             py::arg("photon_threshold"), photon_threshold_doc)
        .def("group_modes_simplification", &group_modes_simplification, py::arg("group_size"),
             group_modes_doc)
        .def("trim", &FSD::trim, py::arg("threshold"), trim_doc)
        .def("trim_relative", &FSD::trim_relative, py::arg("relative_threshold"),
             trim_relative_doc);
    def_mode_count_and_products(fsd);
    fsd.def(
           "__eq__", [](FSD const& a, FSD const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSD const& a, FSD const& b) { return a != b; }, py::is_operator())
        .def(
            "__eq__", [](FSD const& a, FSF const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSD const& a, FSF const& b) { return a != b; }, py::is_operator())
        .def(
            "__mul__", [](FSD const& a, FSD const& b) { return a * b; }, py::is_operator(),
            CatchSigint())
        .def(
            "__mul__", [](FSD const& d, FockState const& fs) { return d * fs; }, py::is_operator())
        .def(
            "__rmul__", [](FSD const& d, FockState const& fs) { return fs * d; },
            py::is_operator());
    fsd.attr("__doc__") = fs_distribution_doc;

    fsf.def(py::init<>(), "null function")
        .def(py::init([](Map map) { return FSF(std::move(map), false); }), py::arg("bsd"),
             "constructor from dict of FockStates")
        .def(py::init([](FSF const& f) { return FSF(f); }), py::arg("bsf"),
             "constructor from existing FSFunction")
        .def(py::init([](FsArray const& fsa, std::vector<double> const& values) {
                 return FSF(fsa, values, -1.0);
             }),
             py::arg("fsa"), py::arg("values"), "constructor from FsArray and list of values")
        .def(py::init([](FSD const& d) { return d.toFockSpaceFunction(); }), py::arg("bsd"),
             "constructor from existing FSDistribution")
        .def("__copy__", [](FSF const& f) { return FSF(f); })
        .def("__deepcopy__", [](FSF const& f, py::dict) { return FSF(f); })
        .def(
            "to_distribution", [](FSF const& f) { return f.toFSD(0.0); },
            "normalize and returns a FSDistribution")
        .def(
            "move_to_distribution", [](FSF& f) { return std::move(f).toFSD(0.0); },
            "transform into a normalized FSDistribution - the current FSFunction is cleared")
        .def(
            "__getitem__",
            [](FSF const& f, FockState const& fs) {
                f.check_m(fs);
                return f.get(fs);
            },
            py::arg("fs"))
        .def(
            "__setitem__",
            [](FSF& f, FockState const& fs, double value) {
                f.check_m(fs);
                // f[fs] = 0 must not leave the old value behind; the native set ignores zeros.
                if (value == 0.0)
                    f.erase(fs);
                else
                    f.set(fs, value);
            },
            py::arg("fs"), py::arg("value"))
        .def(
            "__delitem__",
            [](FSF& f, FockState const& fs) {
                f.check_m(fs);
                return f.erase(fs) ? 1 : 0;
            },
            py::arg("fs"))
        .def(
            "items", [](FSF const& f) { return iterate_items(f); }, py::keep_alive<0, 1>(),
            items_doc)
        .def(
            "keys", [](FSF const& f) { return iterate_keys(f); }, py::keep_alive<0, 1>(), keys_doc)
        .def(
            "values", [](FSF const& f) { return iterate_values(f); }, py::keep_alive<0, 1>(),
            values_doc)
        .def(
            "__iter__", [](FSF const& f) { return iterate_keys(f); }, py::keep_alive<0, 1>())
        .def(
            "__contains__",
            [](FSF& f, FockState const& fs) {
                f.check_m(fs);
                return f.contains(fs);
            },
            py::arg("fs"))
        .def("__len__", &FSF::size)
        .def("__repr__", [](FSF const& f) { return fmt::format("{}", f); })
        .def("__str__", [](FSF const& f) { return fmt::format("{}", f); })
        .def("__pow__", &FSF::pow, CatchSigint())
        .def("trim", &FSF::trim, py::arg("threshold"), trim_doc);
    def_mode_count_and_products(fsf);
    fsf.def(
           "__eq__", [](FSF const& a, FSF const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSF const& a, FSF const& b) { return a != b; }, py::is_operator())
        .def(
            "__mul__", [](FSF const& a, FSF const& b) { return a * b; }, py::is_operator(),
            CatchSigint())
        .def(
            "__mul__", [](FSF const& f, FockState const& fs) { return f * fs; }, py::is_operator())
        .def(
            "__rmul__", [](FSF const& f, FockState const& fs) { return fs * f; }, py::is_operator())
        .def(
            "__mul__", [](FSF const& f, FSD const& d) { return f * d; }, py::is_operator())
        .def(
            "__rmul__", [](FSF const& f, FSD const& d) { return d * f; }, py::is_operator())
        .def(
            "__neg__", [](FSF const& f) { return -f; }, py::is_operator())
        .def(
            "__mul__", [](FSF const& f, double x) { return f * x; }, py::is_operator())
        .def(
            "__rmul__", [](FSF const& f, double x) { return x * f; }, py::is_operator())
        .def(
            "__truediv__", [](FSF const& f, double x) { return f / x; }, py::is_operator())
        .def(
            "__add__", [](FSF const& a, FSF const& b) { return a + b; }, py::is_operator())
        .def(
            "__sub__", [](FSF const& a, FSF const& b) { return a - b; }, py::is_operator())
        .def(
            "__imul__", [](FSF& f, double x) -> FSF& { return f *= x; }, py::is_operator(),
            py::return_value_policy::reference)
        .def(
            "__itruediv__", [](FSF& f, double x) -> FSF& { return f /= x; }, py::is_operator(),
            py::return_value_policy::reference)
        .def(
            "__iadd__", [](FSF& a, FSF const& b) -> FSF& { return a += b; }, py::is_operator(),
            py::return_value_policy::reference)
        .def(
            "__isub__", [](FSF& a, FSF const& b) -> FSF& { return a -= b; }, py::is_operator(),
            py::return_value_policy::reference);
    fsf.attr("__doc__") = fs_function_doc;
}

}  // namespace Python
