#pragma once

#include <cstddef>
#include <utility>
#include <variant>
#include <vector>

#include "backends/configurator_map.h"
#include "runtime/matrix.h"

namespace Backend {

// A fixed component: a square unitary block and the mode of its first row and column.
using FixedComponent = std::pair<Matrix, int>;
// One feed-forward entry; entries act on the output modes after the main unitary, in order.
using FeedForwardEntry = std::variant<ConfiguratorMap, FixedComponent>;

// The matrix a SLAP walk reads: the column-repeated unitary with every feed-forward block in force
// applied to its rows, first entry first. Configurators switch their block as the walk reaches
// outcomes of their measured modes; only the products from the first changed entry on are
// rebuilt, and only the rows of each block. Points into the entries, which must outlive it.
class UnitaryProvider {
  public:
    UnitaryProvider(Matrix repeated, std::vector<FeedForwardEntry> const& entries);

    bool has_configurators() const { return !configurators_.empty(); }
    // Brings the blocks in force up to date for a node of the walk with these per-mode counts,
    // reached by a photon in mode `level`. A configurator selects at every node past its measured
    // modes, whose counts are final there, by comparing the whole measured outcome with the one
    // it last selected for: a node then always uses the block of its own outcome, however the
    // walk got there (masked walks skip nodes).
    void update_unitary(std::vector<int> const& counts, int level);
    // Rebuilds the products of the entries from `start` on; nothing for start >= entries.
    void compute_unitaries(std::size_t start);
    // The matrix in force.
    Matrix const& current() const { return products_.back(); }

  private:
    struct Configurator {
        ConfiguratorMap const* map;
        std::size_t entry;
        // The outcome last selected for; meaningless until `selected`.
        std::vector<int> key;
        bool selected = false;
    };

    std::vector<Configurator> configurators_;
    // Per entry, the block in force and its first mode.
    std::vector<std::pair<Matrix const*, int>> blocks_;
    // products_[0] is the repeated unitary, products_[i + 1] = block i applied to products_[i].
    std::vector<Matrix> products_;
};

}  // namespace Backend
