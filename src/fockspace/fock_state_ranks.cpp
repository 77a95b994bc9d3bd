#include "fockspace/fock_state_ranks.h"

FockStateRanks::FockStateRanks(int m, int max_n)
    : m_(static_cast<std::size_t>(m < 0 ? 0 : m)),
      columns_(static_cast<std::size_t>(max_n < 0 ? 0 : max_n) + 2),
      values_(m_ * columns_, 0) {
    // count(v, c) = count(v + 1, c) + count(v, c - 1): the states with no photon in v, and
    // those with one at least.
    for (std::size_t v = m_; v-- > 0;) {
        std::uint64_t* row = values_.data() + v * columns_;
        row[1] = 1;
        for (std::size_t c = 2; c < columns_; ++c)
            row[c] = (v + 1 < m_ ? row[columns_ + c] : 0) + row[c - 1];
    }
}
