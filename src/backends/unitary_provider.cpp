#include "backends/unitary_provider.h"

#include <algorithm>
#include <limits>

namespace Backend {

UnitaryProvider::UnitaryProvider(Matrix repeated, std::vector<FeedForwardEntry> const& entries) {
    blocks_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (auto const* fixed = std::get_if<FixedComponent>(&entries[i])) {
            blocks_.emplace_back(&fixed->first, fixed->second);
            continue;
        }
        auto const& map = std::get<ConfiguratorMap>(entries[i]);
        blocks_.emplace_back(&map.default_unitary(), map.first_configured_mode());
        const auto measured =
            static_cast<std::size_t>(map.last_measured_mode() - map.first_measured_mode() + 1);
        configurators_.push_back({&map, i, std::vector<int>(measured, 0)});
    }
    products_.resize(entries.size() + 1);
    products_[0] = std::move(repeated);
    compute_unitaries(0);
}

void UnitaryProvider::compute_unitaries(std::size_t start) {
    for (std::size_t i = start; i < blocks_.size(); ++i) {
        auto const& [block, first] = blocks_[i];
        const auto size = block->rows();
        // Same sizes every time: the assignment reuses the storage.
        products_[i + 1] = products_[i];
        products_[i + 1].middleRows(first, size).noalias() =
            block->lazyProduct(products_[i].middleRows(first, size));
    }
}

void UnitaryProvider::update_unitary(std::vector<int> const& counts, int level) {
    std::size_t lowest = std::numeric_limits<std::size_t>::max();
    for (auto& c : configurators_) {
        if (level <= c.map->last_measured_mode()) continue;
        const auto first = counts.begin() + c.map->first_measured_mode();
        const auto last = counts.begin() + c.map->last_measured_mode() + 1;
        if (c.selected && std::equal(first, last, c.key.begin())) continue;
        std::copy(first, last, c.key.begin());
        c.selected = true;
        Matrix const* block = &(*c.map)[c.key];
        if (blocks_[c.entry].first == block) continue;
        blocks_[c.entry].first = block;
        lowest = std::min(lowest, c.entry);
    }
    compute_unitaries(lowest);
}

}  // namespace Backend
