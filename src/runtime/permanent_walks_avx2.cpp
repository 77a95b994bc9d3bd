#include "runtime/permanent_walks.h"

#include <complex>
#include <cstddef>

// The walks for processors with AVX2 and FMA.
namespace Permanents {

template <typename T>
ORBANDILE_TARGET_AVX2 T glynn_avx2(RowSums<T>& r, std::size_t n) {
    return with_sums<32>(r, GlynnWalk<T>{n});
}

template <typename T>
ORBANDILE_TARGET_AVX2 T ryser_avx2(const RyserWalk<T>& walk) {
    return with_layered_sums<32>(walk);
}

template double glynn_avx2(RowSums<double>&, std::size_t);
template std::complex<double> glynn_avx2(RowSums<std::complex<double>>&, std::size_t);
template long long ryser_avx2(const RyserWalk<long long>&);
template double ryser_avx2(const RyserWalk<double>&);
template std::complex<double> ryser_avx2(const RyserWalk<std::complex<double>>&);

}  // namespace Permanents
