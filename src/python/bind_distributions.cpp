#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <pybind11/stl_bind.h>

#include "fockspace/sample_containers.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "states/fock_state.h"

namespace Python {

namespace {

using Samples = std::vector<FockState>;
using Counts = std::unordered_map<FockState, unsigned long>;

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
    explicit ListCursor(Samples const* samples) : _samples(samples) {}
    FockState operator*() const { return (*_samples)[_index]; }
    ListCursor& operator++() {
        ++_index;
        return *this;
    }
    bool operator==(End) const { return _index >= _samples->size(); }

  private:
    Samples const* _samples;
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

py::iterator iterate_keys(Counts const& counts) {
    std::vector<FockState> keys;
    keys.reserve(counts.size());
    for (auto const& entry : counts) keys.push_back(entry.first);
    return iterate_snapshot(std::move(keys));
}

// The standard views iterate the live map; these keep its views but iterate snapshots.
struct KeysView : py::detail::keys_view {
    explicit KeysView(Counts& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override { return iterate_keys(counts); }
    bool contains(const py::handle& k) override {
        if (!py::isinstance<FockState>(k)) return false;
        return counts.find(k.cast<FockState const&>()) != counts.end();
    }
    Counts& counts;
};

struct ValuesView : py::detail::values_view {
    explicit ValuesView(Counts& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override {
        std::vector<unsigned long> values;
        values.reserve(counts.size());
        for (auto const& entry : counts) values.push_back(entry.second);
        return iterate_snapshot(std::move(values));
    }
    Counts& counts;
};

struct ItemsView : py::detail::items_view {
    explicit ItemsView(Counts& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override {
        return iterate_snapshot(
            std::vector<std::pair<FockState, unsigned long>>(counts.begin(), counts.end()));
    }
    Counts& counts;
};

}  // namespace

void bind_bs_count(py::module_& m) {
    auto cl = py::bind_map<Counts>(m, "BSCount");

    py::delattr(cl, "__iter__");
    cl.def("__iter__", &iterate_keys, py::keep_alive<0, 1>());
    py::delattr(cl, "keys");
    py::delattr(cl, "values");
    py::delattr(cl, "items");
    cl.def(
        "keys", [](Counts& c) { return std::unique_ptr<py::detail::keys_view>(new KeysView(c)); },
        py::keep_alive<0, 1>());
    cl.def(
        "values",
        [](Counts& c) { return std::unique_ptr<py::detail::values_view>(new ValuesView(c)); },
        py::keep_alive<0, 1>());
    cl.def(
        "items",
        [](Counts& c) { return std::unique_ptr<py::detail::items_view>(new ItemsView(c)); },
        py::keep_alive<0, 1>());

    cl.def(py::init<Counts const&>(), py::arg("bscount"));
    cl.def("__copy__", [](Counts const& c) { return Counts(c); });
    cl.def("__deepcopy__", [](Counts const& c, py::dict) { return Counts(c); });
    cl.def(py::init([](py::dict const& d) {
               Counts counts;
               for (auto item : d) {
                   const auto value = py::cast<unsigned long>(item.second);
                   counts[to_state(item.first)] = value;
               }
               return counts;
           }),
           py::arg("bscount"));
    cl.def(
        "add",
        [](Counts& c, FockState const& fs, unsigned long value) {
            if (value != 0) c[fs] += value;
        },
        py::arg("fs"), py::arg("value"), add_doc);
    cl.def(
        "total",
        [](Counts const& c) {
            unsigned long total = 0;
            for (auto const& entry : c) total += entry.second;
            return total;
        },
        total_doc);
    cl.def("__str__", [](Counts const& c) { return fmt::format("{}", c); });
    cl.def(
        "__eq__", [](Counts const& a, Counts const& b) { return a == b; }, py::is_operator());
    cl.def(
        "__ne__", [](Counts const& a, Counts const& b) { return a != b; }, py::is_operator());
    cl.attr("__doc__") = bs_count_doc;

    py::delattr(cl, "__getitem__");
    cl.def("__getitem__", [](Counts& c, FockState const& fs) { return c[fs]; });
}

void bind_bs_samples(py::module_& m) {
    auto cl = py::bind_vector<Samples>(m, "BSSamples");

    // The standard binding hands out references into the list's storage, which dangle once the
    // list reallocates; these hand out copies, in the standard binding's overload order.
    py::delattr(cl, "__getitem__");
    cl.def(
        "__getitem__",
        [](Samples const& v, py::slice const& slice) {
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!slice.compute(v.size(), &start, &stop, &step, &length))
                throw py::error_already_set();
            auto selected = std::make_unique<Samples>();
            selected->reserve(length);
            for (size_t i = 0; i < length; ++i, start += step) selected->push_back(v[start]);
            return selected;
        },
        py::arg("s"), "Retrieve list elements using a slice object");
    cl.def("__getitem__", [](Samples const& v, Samples::difference_type i) {
        const auto size = static_cast<Samples::difference_type>(v.size());
        if (i < 0) i += size;
        if (i < 0 || i >= size) throw py::index_error();
        return v[static_cast<std::size_t>(i)];
    });
    py::delattr(cl, "__iter__");
    cl.def(
        "__iter__", [](Samples const& v) { return py::make_iterator(ListCursor(&v), End{}); },
        py::keep_alive<0, 1>());
    // Inserting a vector's own range into it reads elements the insertion has moved away.
    py::delattr(cl, "extend");
    cl.def(
        "extend",
        [](Samples& v, Samples const& src) {
            if (&v == &src) {
                const Samples copy(src);
                v.insert(v.end(), copy.begin(), copy.end());
            } else {
                v.insert(v.end(), src.begin(), src.end());
            }
        },
        py::arg("L"), "Extend the list by appending all the items in the given list");
    cl.def(
        "extend",
        [](Samples& v, py::iterable const& it) {
            const size_t old_size = v.size();
            v.reserve(old_size + py::len_hint(it));
            try {
                for (py::handle h : it) v.push_back(to_state(h));
            } catch (const py::cast_error&) {
                v.erase(v.begin() + static_cast<Samples::difference_type>(old_size), v.end());
                throw;
            }
        },
        py::arg("L"), "Extend the list by appending all the items in the given list");

    cl.def("__copy__", [](Samples const& v) { return Samples(v); });
    cl.def("__deepcopy__", [](Samples const& v, py::dict) { return Samples(v); });
    cl.def(
        "__iadd__",
        [](Samples& v, Samples const& other) -> Samples& {
            if (&v == &other) {
                const Samples copy(other);
                v.insert(v.end(), copy.begin(), copy.end());
            } else {
                v.insert(v.end(), other.begin(), other.end());
            }
            return v;
        },
        py::is_operator(), py::return_value_policy::reference);
    cl.def(
        "__iadd__",
        [](Samples& v, py::list const& items) -> Samples& {
            for (py::handle h : items) v.push_back(to_state(h));
            return v;
        },
        py::is_operator(), py::return_value_policy::reference);
    cl.def("__str__", [](Samples const& v) { return fmt::format("{:10}", v); });
    cl.attr("__doc__") = bs_samples_doc;
}

void bind_fs_distribution(py::module_&) {}

void bind_sv_distribution(py::module_&) {}

}  // namespace Python
