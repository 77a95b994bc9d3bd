#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <vector>

#include "backends/slos_map.h"

// The arithmetic of SLOS_V3's pass, one copy per instruction set, apart from the back-end that
// owns the buffers and the layer loop.
namespace Backend::SlosV3Kernels {

// One layer of a pruned map from `current` into `next`, pulling (backward) or pushing; a push
// adds into `next`, which holds zeros. A layer whose fast arithmetic meets a NaN is redone with
// std::complex's semantics.
template <typename T>
void sweep_layer(typename SlosMap_t<T>::Layer const& layer, bool backward,
                 std::vector<std::complex<double>> const& column,
                 std::vector<std::complex<double>> const& current,
                 std::vector<std::complex<double>>& next);

// One layer of a map that keeps every state (`DenseLinks`), computed run by run: a run is the
// output states that share their head occupations, and its head links read aligned runs of the
// previous layer, one per occupied head mode, at a fixed distance from the output.
struct DensePass {
    DenseLinks const& links;
    int m;
    // The unitary's column of the input photon by output mode, as (re, im), and as the pairs
    // (re, re), (-im, im) per mode: u x is then (re, re) x + (-im, im) (x.im, x.re).
    const double* column;
    const double* pairs;
    const double* current;
    // Null in a last layer that writes probabilities only (512-bit pass).
    double* next;
    // Scales the outputs by √(s!): the last layer.
    bool last;
    // Where the last layer also writes |z|², while its outputs are at hand; or null.
    double* probabilities;
    // The column's real and imaginary parts of the tail modes, zero past the tail (and so at
    // `no_mode`).
    std::array<double, 16> tail_re{};
    std::array<double, 16> tail_im{};
    // The head modes met on the way down, with the distance from an output state to its source.
    std::array<std::ptrdiff_t, 256> distances{};
    std::array<int, 256> modes{};
};

// The states zi ... of c photons over the tail modes after the shared head occupations; yi is
// the first state of the previous layer with the same head occupations. Returns whether an
// output is NaN.
using RunKernel = bool (*)(DensePass const&, int c, std::size_t zi, std::size_t yi, int sources,
                           double head_scale);
// The run kernel of the selected instruction set.
RunKernel selected_dense_run();

// The same run with std::complex arithmetic throughout, each output summed in the same order.
bool dense_run_complex(DensePass const& p, int c, std::size_t zi, std::size_t yi, int sources,
                       double head_scale);

// The states zi ... of k photons over modes j ... m-1 after shared occupations of the modes
// before j. Their blocks by the occupation a of mode j line up with the blocks of the previous
// layer's states yi ..., so a head link of mode j is one fixed distance for a whole block.
bool descend(DensePass& p, RunKernel run, int j, int k, std::size_t zi, std::size_t yi, int sources,
             double head_scale);

}  // namespace Backend::SlosV3Kernels
