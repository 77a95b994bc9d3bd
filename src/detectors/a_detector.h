#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "detectors/i_detector_visitor.h"

namespace Detector {

// What a photon counter on one mode reports: P(k|n) for k = 0..n detections of n photons,
// computed once per n and cached, and readings drawn from it.
class ADetector {
  public:
    virtual ~ADetector() = default;

    // True when the reading for n photons is certain.
    virtual bool is_deterministic(int n) const = 0;
    // A reading for n photons: drawn from detect(n) with two outputs of RNG::rng per draw,
    // exactly as std::discrete_distribution<int> over detect(n) would.
    virtual int sample(int n) const;
    virtual void accept(IDetectorVisitor& visitor) const = 0;
    virtual double efficiency() const = 0;
    // An independent copy, cache included: each sampling thread holds its own.
    virtual std::shared_ptr<ADetector> clone() const = 0;
    // P(·|n), n + 1 entries, without the cache.
    virtual std::vector<double> _inner_detect(int n) const = 0;

    // 0: perfect photon-number resolution, 1: threshold, 2: capped resolution, 3: probabilistic.
    int behaviour() const { return behaviour_; }
    bool is_always_deterministic() const { return behaviour_ <= 2; }
    const std::string& get_name() const { return name_; }

    // P(·|n) from the cache, computed on first request. The reference stays valid for the
    // detector's lifetime: requests for other counts never move an entry. Not thread-safe.
    const std::vector<double>& detect(int n) const;

  protected:
    ADetector(int behaviour, std::string name) : behaviour_(behaviour), name_(std::move(name)) {}
    ADetector(const ADetector&) = default;
    ADetector& operator=(const ADetector&) = delete;

    // Throws std::invalid_argument for a negative photon count.
    static void check_photon_count(int n);

  private:
    int behaviour_;
    std::string name_;
    // Entry n is P(·|n) once computed, empty before; a deque so that growing it never moves
    // the entries already handed out.
    mutable std::deque<std::vector<double>> cache_;
};

// The behaviour of a list of detectors: 0 all perfect (or none), 1 all threshold, 3 any
// probabilistic, 2 any other mixture.
int behaviour_summary(std::vector<std::shared_ptr<ADetector>> const& detectors);

}  // namespace Detector
