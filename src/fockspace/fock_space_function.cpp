#include "fockspace/fock_space_function.h"

#include <cmath>
#include <stdexcept>

#include "fockspace/fock_space_distribution.h"

FockSpaceFunction::FockSpaceFunction(FockState const& fs, double value) : FockSpaceFunction() {
    map_.emplace(fs, value);
}

FockSpaceFunction::FockSpaceFunction(FsArray const& fsa, std::vector<double> const& values,
                                     double threshold) {
    insert_kept(fsa, values, [threshold](double value) { return std::abs(value) > threshold; });
}

void FockSpaceFunction::set(FockState const& fs, double value) {
    if (value == 0.0) return;
    map_.insert_or_assign(fs, value);
}

double FockSpaceFunction::weight() const {
    double sum = 0.0;
    for (auto const& entry : map_) sum += entry.second;
    return sum;
}

void FockSpaceFunction::normalize() {
    const double w = weight();
    if (w > 1e-16) *this /= w;
}

void FockSpaceFunction::trim(double threshold) {
    std::erase_if(map_,
                  [threshold](auto const& entry) { return std::abs(entry.second) <= threshold; });
}

FockSpaceFunction& FockSpaceFunction::operator*=(double factor) {
    for (auto& entry : map_) entry.second *= factor;
    return *this;
}

FockSpaceFunction& FockSpaceFunction::operator/=(double divisor) {
    for (auto& entry : map_) entry.second /= divisor;
    return *this;
}

FockSpaceFunction FockSpaceFunction::operator-() const& {
    FockSpaceFunction copy(*this);
    return -std::move(copy);
}

FockSpaceFunction FockSpaceFunction::operator-() && {
    for (auto& entry : map_) entry.second = -entry.second;
    return std::move(*this);
}

FockSpaceFunction& FockSpaceFunction::operator+=(FockSpaceFunction const& other) {
    for (auto const& [state, value] : other.map_) map_[state] += value;
    return *this;
}

FockSpaceFunction& FockSpaceFunction::operator-=(FockSpaceFunction const& other) {
    for (auto const& [state, value] : other.map_) map_[state] -= value;
    return *this;
}

FockSpaceDistribution FockSpaceFunction::toFSD(double threshold) && {
    // Checked before the map moves out, so a failure leaves this function whole.
    FockSpaceDistribution::check(map_, threshold);
    map_type map(std::move(map_));
    map_.clear();
    FockSpaceDistribution d(std::move(map), true, 0.0);
    d.trim(threshold);
    return d;
}

FockSpaceDistribution FockSpaceFunction::toFSD(double threshold) const& {
    return FockSpaceDistribution(map_, false, threshold);
}
