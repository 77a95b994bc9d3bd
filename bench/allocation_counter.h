#pragma once

// The heap high-water mark of one call, in MiB, counted from zero at the start of the call.
//
// allocation_counter.cpp replaces the global operator new and delete for the whole benchmark
// binary, not only for the benchmarks that ask for a peak: every allocation of every benchmark
// goes through the replacement, which costs a relaxed load of one flag while nothing is counted.

void start_counting_allocations();
// Stops counting and returns the peak of live bytes since the start, in MiB.
double stop_counting_allocations();

template <typename F>
double peak_mb(F&& f) {
    start_counting_allocations();
    f();
    return stop_counting_allocations();
}
