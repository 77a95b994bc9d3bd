#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <pybind11/stl.h>
#include <pybind11/stl_bind.h>

#include "fockspace/sample_containers.h"
#include "python/bindings.h"
#include "python/opaque_types.h"
#include "python/snapshot_iterator.h"
#include "python/uninitialised.h"
#include "states/fock_state.h"

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
    explicit ListCursor(BSSamples const* samples) : samples_(samples) {}
    FockState operator*() const { return (*samples_)[index_]; }
    ListCursor& operator++() {
        ++index_;
        return *this;
    }
    bool operator==(End) const { return index_ >= samples_->size(); }

  private:
    BSSamples const* samples_;
    std::size_t index_ = 0;
};

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
    py::iterator iter() override { return iterate_values(counts); }
    BSCount& counts;
};

struct ItemsView : py::detail::items_view {
    explicit ItemsView(BSCount& counts) : counts(counts) {}
    size_t len() override { return counts.size(); }
    py::iterator iter() override { return iterate_items(counts); }
    BSCount& counts;
};

// Appends `src` to `v`; a vector's own range inserted into it would read moved elements.
void append_samples(BSSamples& v, BSSamples const& src) {
    if (&v == &src) {
        const BSSamples copy(src);
        v.insert(v.end(), copy.begin(), copy.end());
    } else {
        v.insert(v.end(), src.begin(), src.end());
    }
}

}  // namespace

void bind_bs_count(py::module_& m) {
    auto cl = py::bind_map<BSCount>(m, "BSCount");

    py::delattr(cl, "__iter__");
    cl.def(
        "__iter__", [](BSCount const& c) { return iterate_keys(c); }, py::keep_alive<0, 1>());
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
        "__iter__",
        [](BSSamples const& v) {
            return refusing_uninitialised(py::make_iterator(ListCursor(&v), End{}));
        },
        py::keep_alive<0, 1>());
    py::delattr(cl, "extend");
    cl.def(
        "extend", [](BSSamples& v, BSSamples const& src) { append_samples(v, src); }, py::arg("L"),
        "Extend the list by appending all the items in the given list");
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

}  // namespace Python
