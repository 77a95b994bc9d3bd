#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <ranges>
#include <type_traits>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "python/uninitialised.h"

namespace Python {

namespace py = pybind11;

// Python iterators over a copy of the items taken when the iteration starts, so the source may
// change while Python walks it: reading an absent key inserts it and may rehash a map, and a
// state vector normalises in place. The iterator neither reads freed storage nor sees the change.
// The items come out as copies, through the binding layer's standard iterator class: one class per
// item type and Tag.
template <typename T, typename Tag = void>
class SnapshotCursor {
  public:
    struct End {};

    explicit SnapshotCursor(std::vector<T> items)
        : items_(std::make_shared<const std::vector<T>>(std::move(items))) {}
    T operator*() const { return (*items_)[index_]; }
    SnapshotCursor& operator++() {
        ++index_;
        return *this;
    }
    bool operator==(End) const { return index_ >= items_->size(); }

  private:
    std::shared_ptr<const std::vector<T>> items_;
    std::size_t index_ = 0;
};

template <typename Tag = void, typename T>
py::iterator iterate_snapshot(std::vector<T> items) {
    using Cursor = SnapshotCursor<T, Tag>;
    return refusing_uninitialised(
        py::make_iterator(Cursor(std::move(items)), typename Cursor::End{}));
}

// The keys, the values and the (key, value) pairs of a range of pairs, such as a map.
template <typename Tag = void, typename Range>
py::iterator iterate_keys(Range const& range) {
    std::vector<std::remove_cvref_t<decltype(std::ranges::begin(range)->first)>> keys;
    keys.reserve(static_cast<std::size_t>(std::ranges::distance(range)));
    for (auto const& entry : range) keys.push_back(entry.first);
    return iterate_snapshot<Tag>(std::move(keys));
}

template <typename Tag = void, typename Range>
py::iterator iterate_values(Range const& range) {
    std::vector<std::remove_cvref_t<decltype(std::ranges::begin(range)->second)>> values;
    values.reserve(static_cast<std::size_t>(std::ranges::distance(range)));
    for (auto const& entry : range) values.push_back(entry.second);
    return iterate_snapshot<Tag>(std::move(values));
}

template <typename Tag = void, typename Range>
py::iterator iterate_items(Range const& range) {
    using Key = std::remove_cvref_t<decltype(std::ranges::begin(range)->first)>;
    using Value = std::remove_cvref_t<decltype(std::ranges::begin(range)->second)>;
    return iterate_snapshot<Tag>(
        std::vector<std::pair<Key, Value>>(std::ranges::begin(range), std::ranges::end(range)));
}

}  // namespace Python
