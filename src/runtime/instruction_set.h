#pragma once

#include <algorithm>
#include <atomic>

// Run-time choice among the variants of a kernel compiled for several instruction sets. Each
// variant is a function carrying one of the target attributes below; the caller switches on
// selected_isa().
namespace InstructionSet {

enum class Isa { baseline, avx2, avx512 };

// The widest instruction set of this processor that kernels have a variant for.
inline Isa detected_isa() {
    static const Isa isa = []() {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
            __builtin_cpu_supports("fma"))
            return Isa::avx512;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Isa::avx2;
        return Isa::baseline;
    }();
    return isa;
}

// The variant kernels run: the detected one, or a narrower one that tests and benchmarks select
// to exercise every variant on one machine.
inline std::atomic<Isa>& isa_limit() {
    static std::atomic<Isa> limit{Isa::avx512};
    return limit;
}

inline Isa selected_isa() {
    return std::min(detected_isa(), isa_limit().load(std::memory_order_relaxed));
}

}  // namespace InstructionSet

#define ORBANDILE_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define ORBANDILE_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx2,fma")))
