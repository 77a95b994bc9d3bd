#pragma once

#include <cstdint>
#include <string_view>

// Sizes known before a long call starts are weighed against the memory the process can have,
// so that a call far beyond it fails at once instead of swapping, or aborting the process under
// an address-space limit, minutes later.
namespace MemoryLimit {

// Estimates up to this size may skip the check: no process that loads the library has less
// address space, so the allocation itself answers, and small calls are spared the estimate.
inline constexpr double unchecked_bytes = 64.0 * (1 << 20);

// The machine's physical memory, or the address-space limit (ulimit -v) when that is lower.
std::uint64_t usable_bytes();

// Throws std::length_error "{what} need about {} GB, more than the {} GB of memory available"
// when `bytes` exceed usable_bytes(). `bytes` is a double so that estimates cannot wrap.
void check_fits(double bytes, std::string_view what);

}  // namespace MemoryLimit
