#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "runtime/matrix.h"

// Exact permanents of square matrices. `ptype` "glynn" runs Glynn's formula on the calling
// thread; an empty `ptype` does so too when the configured thread count is 1 or 2; everything
// else runs Ryser's formula split over threads. Integers have no Glynn kernel and wrap modulo
// 2^64.
long long permanent_in(const MatrixView<long long>& matrix, const std::string& ptype = "");
double permanent_fl(const MatrixView<double>& matrix, const std::string& ptype = "");
std::complex<double> permanent_cx(const MatrixView<std::complex<double>>& matrix,
                                  const std::string& ptype = "");

// Glynn's formula over sign vectors in Gray-code order; T is double or std::complex<double>.
template <typename T>
T permanentGlynn(const MatrixView<T>& matrix);

// Sum of the signed Ryser terms of the column subsets with Gray-code index in [from, to), for
// an n x n matrix packed row after row. Its sum over [1, 2^n) is the permanent (n >= 1).
// T is long long, double or std::complex<double>.
template <typename T>
T permanentRyserRange(const T* data, unsigned long from, unsigned long to, unsigned int n);

// Number of Ryser tasks for an n x n matrix on at most `threads` threads: as many as carry
// enough work to pay for starting their thread, at least one.
std::size_t ryser_task_count(unsigned int n, std::size_t threads);

// Moves the ascending list of set bits of the previous code (its first `count` entries) to those
// of `code`; returns the new count and sets `change` to j+1 when bit j was added, to -(j+1) when
// it was removed, and to 0 when the list was rebuilt or did not change.
int dec2idxarr(std::vector<int>& list, int& change, unsigned long code, int count);
