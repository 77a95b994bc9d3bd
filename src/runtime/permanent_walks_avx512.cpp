#include "runtime/permanent_walks.h"

#include <complex>
#include <cstddef>

// The walks for processors with AVX-512.
namespace Permanents {

template <typename T>
ORBANDILE_TARGET_AVX512 T glynn_avx512(RowSums<T>& r, std::size_t n) {
    return with_sums<64>(r, GlynnWalk<T>{n});
}

template <typename T>
ORBANDILE_TARGET_AVX512 T ryser_avx512(const RyserWalk<T>& walk) {
    return with_layered_sums<64>(walk);
}

template double glynn_avx512(RowSums<double>&, std::size_t);
template std::complex<double> glynn_avx512(RowSums<std::complex<double>>&, std::size_t);
template long long ryser_avx512(const RyserWalk<long long>&);
template double ryser_avx512(const RyserWalk<double>&);
template std::complex<double> ryser_avx512(const RyserWalk<std::complex<double>>&);

}  // namespace Permanents
