#pragma once

#include <cstdint>
#include <vector>

// A set of positions as one bit each, with the count of set bits before every word: a rank
// costs one popcount, and the whole structure is about 2 bits a position. A last word past the
// size keeps rank(size()) in range.
class RankedBits {
  public:
    explicit RankedBits(unsigned long size = 0) : words_(size / 64 + 1), size_(size) {}

    unsigned long size() const { return size_; }
    void reserve(unsigned long size) { words_.reserve(size / 64 + 1); }

    // i < size(); the ranks are valid once finish() has run.
    void set(unsigned long i) { words_[i / 64].bits |= std::uint64_t{1} << (i % 64); }
    // Fixes the ranks once every bit is set; returns the number of set bits.
    unsigned long finish();

    // Appends a position; the ranks stay valid.
    void push_back(bool bit) {
        Word const& last = words_.back();
        if (bit) words_.back().bits |= std::uint64_t{1} << (size_ % 64);
        if (++size_ % 64 == 0)
            words_.push_back(
                {0, last.before + static_cast<std::uint64_t>(__builtin_popcountll(last.bits))});
    }

    bool test(unsigned long i) const { return (words_[i / 64].bits >> (i % 64)) & 1u; }
    // The number of set bits before i, for i <= size().
    unsigned long rank(unsigned long i) const {
        Word const& w = words_[i / 64];
        const std::uint64_t below = (std::uint64_t{1} << (i % 64)) - 1;
        return w.before + static_cast<unsigned long>(__builtin_popcountll(w.bits & below));
    }

  private:
    struct Word {
        std::uint64_t bits = 0;
        std::uint64_t before = 0;
    };
    std::vector<Word> words_;
    unsigned long size_;
};
