#include "fockspace/ranked_bits.h"

unsigned long RankedBits::finish() {
    std::uint64_t before = 0;
    for (Word& w : words_) {
        w.before = before;
        before += static_cast<std::uint64_t>(__builtin_popcountll(w.bits));
    }
    return static_cast<unsigned long>(before);
}
