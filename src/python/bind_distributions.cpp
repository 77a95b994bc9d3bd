#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <pybind11/stl.h>
#include <pybind11/stl_bind.h>

#include "fockspace/distribution_products.h"
#include "fockspace/distribution_simplification.h"
#include "fockspace/fock_space_distribution.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/fs_array.h"
#include "fockspace/sample_containers.h"
#include "fockspace/state_vector_distribution.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "states/basic_state.h"
#include "states/fock_state.h"
#include "states/state_vector.h"

namespace Python {

namespace {


constexpr const char* bs_count_doc =
    "Measured sample count data structure. For given states, holds a positive number of "
    "occurrence.\n"
    "\n"
    ":param bscount: (optional) can be initialised from another ``BSCount`` or a dictionary in "
    "which all keys are of type ``FockState`` and all values are positive integers\n";
constexpr const char* add_doc =
    "Increment the count of a given state. Zeroes are discarded.\n"
    "\n"
    ":param fs: Fock state\n"
    ":param value: Count to add\n";
constexpr const char* total_doc =
    "Compute the total number of samples.\n"
    "\n"
    ":return: the sum of occurrence of all contained states\n";
constexpr const char* bs_samples_doc =
    "Measured samples ordered container, suited to save a sample stream data acquisition.\n"
    "\n"
    "It basically acts like a list.";

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

// The binding layer's class conversion, but refusing None with its cast error: None would
// otherwise load as a null state and fail in a way the overload dispatch swallows.
FockState to_state(py::handle h) {
    if (h.is_none())
        throw py::cast_error("Unable to cast Python instance of type " +
                             static_cast<std::string>(py::str(py::type::handle_of(h))) +
                             " to C++ type 'FockState'");
    return h.cast<FockState>();
}

struct End {};

// Walks a list by index and hands out copies: the list may grow, shrink or reallocate between
// two steps without the iterator reading freed storage.
class ListCursor {
  public:
    explicit ListCursor(BSSamples const* samples) : _samples(samples) {}
    FockState operator*() const { return (*_samples)[_index]; }
    ListCursor& operator++() {
        ++_index;
        return *this;
    }
    bool operator==(End) const { return _index >= _samples->size(); }

  private:
    BSSamples const* _samples;
    std::size_t _index = 0;
};

// Walks a copy taken when the iteration starts: inserting (reading an absent state inserts it)
// may rehash the map, which would leave a live iterator dangling.
template <typename T>
class SnapshotCursor {
  public:
    explicit SnapshotCursor(std::vector<T> items)
        : _items(std::make_shared<const std::vector<T>>(std::move(items))) {}
    T operator*() const { return (*_items)[_index]; }
    SnapshotCursor& operator++() {
        ++_index;
        return *this;
    }
    bool operator==(End) const { return _index >= _items->size(); }

  private:
    std::shared_ptr<const std::vector<T>> _items;
    std::size_t _index = 0;
};

template <typename T>
py::iterator iterate_snapshot(std::vector<T> items) {
    return py::make_iterator(SnapshotCursor<T>(std::move(items)), End{});
}

py::iterator iterate_keys(BSCount const& counts) {
    std::vector<FockState> keys;
    keys.reserve(counts.size());
    for (auto const& entry : counts) keys.push_back(entry.first);
    return iterate_snapshot(std::move(keys));
}

// The standard views iterate the live map; these keep its views but iterate snapshots.
struct KeysView : py::detail::keys_view {
    explicit KeysView(BSCount& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override { return iterate_keys(counts); }
    bool contains(const py::handle& k) override {
        if (!py::isinstance<FockState>(k)) return false;
        return counts.find(k.cast<FockState const&>()) != counts.end();
    }
    BSCount& counts;
};

struct ValuesView : py::detail::values_view {
    explicit ValuesView(BSCount& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override {
        std::vector<unsigned long> values;
        values.reserve(counts.size());
        for (auto const& entry : counts) values.push_back(entry.second);
        return iterate_snapshot(std::move(values));
    }
    BSCount& counts;
};

struct ItemsView : py::detail::items_view {
    explicit ItemsView(BSCount& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override {
        return iterate_snapshot(
            std::vector<std::pair<FockState, unsigned long>>(counts.begin(), counts.end()));
    }
    BSCount& counts;
};

// The snapshot iterators below guard against edits of the map while Python iterates it.
template <typename Container>
py::iterator iterate_states(Container const& c) {
    std::vector<FockState> keys;
    keys.reserve(c.size());
    for (auto const& entry : c) keys.push_back(entry.first);
    return iterate_snapshot(std::move(keys));
}

template <typename Container>
py::iterator iterate_values(Container const& c) {
    std::vector<double> values;
    values.reserve(c.size());
    for (auto const& entry : c) values.push_back(entry.second);
    return iterate_snapshot(std::move(values));
}

template <typename Container>
py::iterator iterate_items(Container const& c) {
    return iterate_snapshot(std::vector<std::pair<FockState, double>>(c.begin(), c.end()));
}

// Appends `src` to `v`; a vector's own range inserted into it would read moved elements.
void append_samples(std::vector<FockState>& v, std::vector<FockState> const& src) {
    if (&v == &src) {
        const std::vector<FockState> copy(src);
        v.insert(v.end(), copy.begin(), copy.end());
    } else {
        v.insert(v.end(), src.begin(), src.end());
    }
}

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
            py::arg("prob_threshold") = 0.0, tensor_product_doc)
        .def_static(
            "list_tensor_product",
            [](std::vector<T> const& distributions, bool merge_modes, double prob_threshold) {
                return merge_modes ? merge_product(distributions, prob_threshold)
                                   : tensor_product(distributions, prob_threshold);
            },
            py::arg("distributions"), py::arg("merge_modes") = false,
            py::arg("prob_threshold") = 0.0, list_tensor_product_doc);
}

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

int mode_count(BasicState const& state) {
    return std::visit([](auto const& s) { return s.m(); }, state);
}

int photon_count(BasicState const& state) {
    return std::visit([](auto const& s) { return s.n(); }, state);
}

// Mode check, then the high-water mark, then the map: a failed check changes nothing.
double& sv_entry(StateVectorDistribution& d, StateVector const& sv) {
    d.check_m(sv.modeCount());
    d.n_max() = std::max(d.n_max(), largest_photon_count(sv));
    return d.map()[sv];
}

double& sv_entry(StateVectorDistribution& d, BasicState const& state) {
    d.check_m(mode_count(state));
    d.n_max() = std::max(d.n_max(), photon_count(state));
    return d.map()[StateVector(state)];
}

void sv_add(StateVectorDistribution& d, StateVector const& sv, double value) {
    d.check_m(sv.modeCount());
    d.n_max() = std::max(d.n_max(), largest_photon_count(sv));
    if (value > 1e-16) d.map()[sv] += value;
}

double sv_probability(StateVectorDistribution const& d, StateVector const& sv) {
    auto const it = d.map().find(sv);
    return it == d.map().end() ? 0.0 : it->second;
}

template <typename Key>
void sv_erase(StateVectorDistribution& d, StateVector const& sv, Key const& key) {
    if (d.map().erase(sv) == 0) throw py::key_error(fmt::format("{}", key));
}

// The perfect empty state is left out of the draw, then put back whatever the draw does.
std::vector<StateVector> sv_sample(StateVectorDistribution& d, std::size_t count, bool non_null) {
    if (!non_null || d.empty()) return d.sample(count);
    const StateVector empty(FockState(d.begin()->first.modeCount()));
    auto const it = d.map().find(empty);
    if (it == d.map().end()) return d.sample(count);
    const double p = it->second;
    d.map().erase(it);
    struct Restore {
        StateVectorDistribution& d;
        StateVector const& key;
        double p;
        ~Restore() { d.map()[key] = p; }
    } restore{d, empty, p};
    return d.sample(count);
}

bool sv_equal(StateVectorDistribution const& a, StateVectorDistribution const& b) {
    if (a.size() != b.size()) return false;
    for (auto const& [sv, p] : a) {
        auto const it = b.map().find(sv);
        if (it == b.map().end() || !(it->second == p)) return false;
    }
    return true;
}

}  // namespace

void bind_bs_count(py::module_& m) {
    auto cl = py::bind_map<BSCount>(m, "BSCount");

    py::delattr(cl, "__iter__");
    cl.def("__iter__", &iterate_keys, py::keep_alive<0, 1>());
    py::delattr(cl, "keys");
    py::delattr(cl, "values");
    py::delattr(cl, "items");
    cl.def(
        "keys", [](BSCount& c) { return std::unique_ptr<py::detail::keys_view>(new KeysView(c)); },
        py::keep_alive<0, 1>());
    cl.def(
        "values",
        [](BSCount& c) { return std::unique_ptr<py::detail::values_view>(new ValuesView(c)); },
        py::keep_alive<0, 1>());
    cl.def(
        "items",
        [](BSCount& c) { return std::unique_ptr<py::detail::items_view>(new ItemsView(c)); },
        py::keep_alive<0, 1>());

    cl.def(py::init<BSCount const&>(), py::arg("bscount"));
    cl.def("__copy__", [](BSCount const& c) { return BSCount(c); });
    cl.def("__deepcopy__", [](BSCount const& c, py::dict) { return BSCount(c); });
    cl.def(py::init([](py::dict const& d) {
               BSCount counts;
               for (auto item : d) {
                   const auto value = py::cast<unsigned long>(item.second);
                   counts[to_state(item.first)] = value;
               }
               return counts;
           }),
           py::arg("bscount"));
    cl.def(
        "add",
        [](BSCount& c, FockState const& fs, unsigned long value) {
            if (value != 0) c[fs] += value;
        },
        py::arg("fs"), py::arg("value"), add_doc);
    cl.def(
        "total",
        [](BSCount const& c) {
            unsigned long total = 0;
            for (auto const& entry : c) total += entry.second;
            return total;
        },
        total_doc);
    cl.def("__str__", [](BSCount const& c) { return fmt::format("{}", c); });
    cl.def(
        "__eq__", [](BSCount const& a, BSCount const& b) { return a == b; }, py::is_operator());
    cl.def(
        "__ne__", [](BSCount const& a, BSCount const& b) { return a != b; }, py::is_operator());
    cl.attr("__doc__") = bs_count_doc;

    py::delattr(cl, "__getitem__");
    cl.def("__getitem__", [](BSCount& c, FockState const& fs) { return c[fs]; });
}

void bind_bs_samples(py::module_& m) {
    auto cl = py::bind_vector<BSSamples>(m, "BSSamples");

    // The standard binding hands out references into the list's storage, which dangle once the
    // list reallocates; these hand out copies, in the standard binding's overload order.
    py::delattr(cl, "__getitem__");
    cl.def(
        "__getitem__",
        [](BSSamples const& v, py::slice const& slice) {
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!slice.compute(v.size(), &start, &stop, &step, &length))
                throw py::error_already_set();
            auto selected = std::make_unique<BSSamples>();
            selected->reserve(length);
            for (size_t i = 0; i < length; ++i, start += step) selected->push_back(v[start]);
            return selected;
        },
        py::arg("s"), "Retrieve list elements using a slice object");
    cl.def("__getitem__", [](BSSamples const& v, BSSamples::difference_type i) {
        const auto size = static_cast<BSSamples::difference_type>(v.size());
        if (i < 0) i += size;
        if (i < 0 || i >= size) throw py::index_error();
        return v[static_cast<std::size_t>(i)];
    });
    py::delattr(cl, "__iter__");
    cl.def(
        "__iter__", [](BSSamples const& v) { return py::make_iterator(ListCursor(&v), End{}); },
        py::keep_alive<0, 1>());
    py::delattr(cl, "extend");
    cl.def(
        "extend",
        [](BSSamples& v, BSSamples const& src) { append_samples(v, src); },
        py::arg("L"), "Extend the list by appending all the items in the given list");
    cl.def(
        "extend",
        [](BSSamples& v, py::iterable const& it) {
            const size_t old_size = v.size();
            v.reserve(old_size + py::len_hint(it));
            try {
                for (py::handle h : it) v.push_back(to_state(h));
            } catch (const py::cast_error&) {
                v.erase(v.begin() + static_cast<BSSamples::difference_type>(old_size), v.end());
                throw;
            }
        },
        py::arg("L"), "Extend the list by appending all the items in the given list");

    cl.def("__copy__", [](BSSamples const& v) { return BSSamples(v); });
    cl.def("__deepcopy__", [](BSSamples const& v, py::dict) { return BSSamples(v); });
    cl.def(
        "__iadd__",
        [](BSSamples& v, BSSamples const& other) -> BSSamples& {
            append_samples(v, other);
            return v;
        },
        py::is_operator(), py::return_value_policy::reference);
    cl.def(
        "__iadd__",
        [](BSSamples& v, py::list const& items) -> BSSamples& {
            for (py::handle h : items) v.push_back(to_state(h));
            return v;
        },
        py::is_operator(), py::return_value_policy::reference);
    cl.def("__str__", [](BSSamples const& v) { return fmt::format("{:10}", v); });
    cl.attr("__doc__") = bs_samples_doc;
}

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
        .def("items", &iterate_items<FSD>, py::keep_alive<0, 1>(), items_doc)
        .def("keys", &iterate_states<FSD>, py::keep_alive<0, 1>(), keys_doc)
        .def("values", &iterate_values<FSD>, py::keep_alive<0, 1>(), values_doc)
        .def("__iter__", &iterate_states<FSD>, py::keep_alive<0, 1>())
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
        .def("__pow__", &FSD::pow)
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
        .def("trim_relative", &FSD::trim_relative, py::arg("relative_threshold"), trim_relative_doc);
    def_mode_count_and_products(fsd);
    fsd        .def(
            "__eq__", [](FSD const& a, FSD const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSD const& a, FSD const& b) { return a != b; }, py::is_operator())
        .def(
            "__eq__", [](FSD const& a, FSF const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSD const& a, FSF const& b) { return a != b; }, py::is_operator())
        .def(
            "__mul__", [](FSD const& a, FSD const& b) { return a * b; }, py::is_operator())
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
        .def("items", &iterate_items<FSF>, py::keep_alive<0, 1>(), items_doc)
        .def("keys", &iterate_states<FSF>, py::keep_alive<0, 1>(), keys_doc)
        .def("values", &iterate_values<FSF>, py::keep_alive<0, 1>(), values_doc)
        .def("__iter__", &iterate_states<FSF>, py::keep_alive<0, 1>())
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
        .def("__pow__", &FSF::pow)
        .def("trim", &FSF::trim, py::arg("threshold"), trim_doc);
    def_mode_count_and_products(fsf);
    fsf        .def(
            "__eq__", [](FSF const& a, FSF const& b) { return a == b; }, py::is_operator())
        .def(
            "__ne__", [](FSF const& a, FSF const& b) { return a != b; }, py::is_operator())
        .def(
            "__mul__", [](FSF const& a, FSF const& b) { return a * b; }, py::is_operator())
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

void bind_sv_distribution(py::module_& m) {
    using SVD = StateVectorDistribution;
    using SVMap = std::unordered_map<StateVector, double>;

    py::class_<SVD> cls(m, "SVDistribution");
    cls.def(py::init<>(), "empty distribution")
        .def(py::init([](BasicState state) {
                 SVD d;
                 d.n_max() = photon_count(state);
                 d.map().emplace(StateVector(std::move(state)), 1.0);
                 return d;
             }),
             py::arg("fs"), "constructor from existing fockstate")
        .def(py::init([](StateVector const& sv) {
                 SVD d;
                 d.n_max() = largest_photon_count(sv);
                 d.map().emplace(sv, 1.0);
                 return d;
             }),
             py::arg("sv"), "constructor from existing StateVector")
        .def(py::init([](std::unordered_map<BasicState, double> const& bsd) {
                 SVD d;
                 d.map().reserve(std::max<std::size_t>(bsd.size(), 1));
                 for (auto const& [state, p] : bsd) sv_entry(d, state) = p;
                 return d;
             }),
             py::arg("bsd"), "constructor from dict of BasicStates")
        .def(py::init([](SVMap svd) {
                 int n_max = 0;
                 if (!svd.empty()) {
                     const int first_m = svd.begin()->first.modeCount();
                     for (auto const& entry : svd) {
                         if (entry.first.modeCount() != first_m)
                             throw std::invalid_argument("Number of modes is not consistent");
                         n_max = std::max(n_max, largest_photon_count(entry.first));
                     }
                 }
                 SVD d;
                 d.map() = std::move(svd);
                 d.n_max() = n_max;
                 return d;
             }),
             py::arg("svd"), "constructor from dict of StateVectors")
        .def(py::init([](FockSpaceDistribution const& bsd) {
                 SVD d;
                 d.map().reserve(bsd.size());
                 for (auto const& [fs, p] : bsd) {
                     d.n_max() = std::max(d.n_max(), fs.n());
                     d.map()[StateVector(BasicState(fs))] = p;
                 }
                 return d;
             }),
             py::arg("bsd"), "constructor from existing BSD")
        .def(py::init([](SVD const& d) { return SVD(d); }), py::arg("svd"),
             "constructor from existing SVD")
        .def("__copy__", [](SVD const& d) { return SVD(d); })
        .def("__deepcopy__", [](SVD const& d, py::dict) { return SVD(d); })
        .def(
            "__getitem__",
            [](SVD const& d, BasicState const& state) {
                return sv_probability(d, StateVector(state));
            },
            py::arg("fs"))
        .def("__getitem__", &sv_probability, py::arg("sv"))
        .def(
            "get",
            [](SVD const& d, StateVector const& sv,
               std::optional<double> fallback) -> std::optional<double> {
                auto const it = d.map().find(sv);
                if (it == d.map().end()) return fallback;
                return it->second;
            },
            py::arg("sv"), py::arg("default") = py::none(), sv_get_doc)
        .def(
            "__setitem__",
            [](SVD& d, BasicState const& state, double value) { sv_entry(d, state) = value; },
            py::arg("fs"), py::arg("value"))
        .def(
            "__setitem__",
            [](SVD& d, StateVector const& sv, double value) { sv_entry(d, sv) = value; },
            py::arg("sv"), py::arg("value"))
        .def(
            "__delitem__",
            [](SVD& d, BasicState const& state) { sv_erase(d, StateVector(state), state); },
            py::arg("fs"))
        .def("__delitem__", [](SVD& d, StateVector const& sv) { sv_erase(d, sv, sv); })
        .def("add", &sv_add, py::arg("sv"), py::arg("value"), sv_add_doc)
        .def(
            "add",
            [](SVD& d, BasicState const& state, double value) {
                d.check_m(mode_count(state));
                d.n_max() = std::max(d.n_max(), photon_count(state));
                if (value > 1e-16) d.map()[StateVector(state)] += value;
            },
            py::arg("fs"), py::arg("value"))
        .def(
            "__contains__",
            [](SVD const& d, BasicState const& state) {
                return d.map().count(StateVector(state)) != 0;
            },
            py::arg("sv"))
        .def(
            "__contains__",
            [](SVD const& d, StateVector const& sv) { return d.map().count(sv) != 0; },
            py::arg("sv"))
        .def("__len__", &SVD::size)
        .def(
            "items",
            [](SVD const& d) {
                return iterate_snapshot(
                    std::vector<std::pair<StateVector, double>>(d.begin(), d.end()));
            },
            py::keep_alive<0, 1>(), sv_items_doc)
        .def(
            "keys",
            [](SVD const& d) {
                std::vector<StateVector> keys;
                keys.reserve(d.size());
                for (auto const& entry : d) keys.push_back(entry.first);
                return iterate_snapshot(std::move(keys));
            },
            py::keep_alive<0, 1>(), sv_keys_doc)
        .def("values", &iterate_values<SVD>, py::keep_alive<0, 1>(), values_doc)
        .def(
            "__iter__",
            [](SVD const& d) {
                std::vector<StateVector> keys;
                keys.reserve(d.size());
                for (auto const& entry : d) keys.push_back(entry.first);
                return iterate_snapshot(std::move(keys));
            },
            py::keep_alive<0, 1>())
        .def("__repr__", [](SVD const& d) { return fmt::format("{}", d); })
        .def("__str__", [](SVD const& d) { return fmt::format("{}", d); })
        .def("__eq__", &sv_equal, py::is_operator())
        .def(
            "__ne__", [](SVD const& a, SVD const& b) { return !sv_equal(a, b); }, py::is_operator())
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
            "__mul__", [](SVD const& a, SVD const& b) { return a * b; }, py::is_operator())
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
        .def("__pow__", [](SVD const& d, unsigned long k) { return d.pow(k); })
        .def_static(
            "tensor_product",
            [](SVD const& svd1, SVD const& svd2, double prob_threshold) {
                return tensor_product(svd1, svd2, prob_threshold);
            },
            py::arg("svd1"), py::arg("svd2"), py::arg("prob_threshold") = 0.0,
            sv_tensor_product_doc)
        .def_static(
            "tensor_product",
            [](std::vector<SVD> const& distributions, double prob_threshold) {
                return tensor_product(distributions, prob_threshold);
            },
            py::arg("distributions"), py::arg("prob_threshold") = 0.0, sv_list_tensor_product_doc)
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
        .def("sample", &sv_sample, py::arg("count"), py::arg("non_null") = true, sv_sample_doc);
    cls.attr("__doc__") = sv_distribution_doc;
}

}  // namespace Python
