#include "runtime/permanent_walks.h"

#include <complex>
#include <cstddef>

// The walks for processors without AVX2.
namespace Permanents {

template <typename T>
T glynn_baseline(RowSums<T>& r, std::size_t n) {
    return with_sums<16>(r, GlynnWalk<T>{n});
}

template <typename T>
T ryser_baseline(const RyserWalk<T>& walk) {
    return with_layered_sums<16>(walk);
}

template double glynn_baseline(RowSums<double>&, std::size_t);
template std::complex<double> glynn_baseline(RowSums<std::complex<double>>&, std::size_t);
template long long ryser_baseline(const RyserWalk<long long>&);
template double ryser_baseline(const RyserWalk<double>&);
template std::complex<double> ryser_baseline(const RyserWalk<std::complex<double>>&);

}  // namespace Permanents
