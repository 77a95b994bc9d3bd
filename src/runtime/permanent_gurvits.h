#pragma once

#include <complex>
#include <string>
#include <utility>
#include <vector>

#include "runtime/matrix.h"

// Gurvits' randomised estimate of the permanent of a square matrix: the mean of
// prod(x) * prod_i (row_i . x) over `n_iter` random sign vectors x, with the half-width of its
// 99 % confidence interval. The samples are shared among the configured number of threads, each
// reseeded from the caller's generator, so a seeded call is reproducible for a given thread
// count. `ptype` is accepted and ignored. They catch SIGINT for the duration of the call (clearing
// a leftover interrupt flag), and Ctrl-C ends them with KeyboardInterruptException.
std::pair<double, double> estimate_permanent_fl(const MatrixView<double>& matrix,
                                                unsigned int n_iter, const std::string& ptype = "");
std::pair<std::complex<double>, double> estimate_permanent_cx(
    const MatrixView<std::complex<double>>& matrix, unsigned int n_iter,
    const std::string& ptype = "");

// T is double or std::complex<double>; `threads` of 0 counts as 1. n_iter = 0 throws
// std::invalid_argument. The tasks poll the interrupt flag (InterruptSignalHandler::Poll).
template <typename T>
std::pair<T, double> permanentGurvits(const MatrixView<T>& matrix, unsigned int n_iter,
                                      unsigned int threads);

// Samples per task: one task when n_iter < t, else t shares of ceil(n_iter / t) while samples
// remain, the last taking the rest (possibly 0).
std::vector<unsigned int> computeIterationPerThread(unsigned int n_iter, unsigned int t);
