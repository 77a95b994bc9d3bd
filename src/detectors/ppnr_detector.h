#pragma once

#include <memory>
#include <string>
#include <vector>

#include "detectors/a_detector.h"

namespace Detector {

// A pseudo-photon-number-resolving detector: n_wires click/no-click wires, each photon reaching
// one with probability wire_efficiency, the reading capped at max_detections (0: no cap). With no
// wires it resolves photon numbers, each photon seen with probability wire_efficiency.
class PPNRDetector : public ADetector {
  public:
    // std::invalid_argument for a negative number of wires or cap, or a wire efficiency that is
    // not in [0, 1] (NaN included).
    PPNRDetector(int n_wires, int max_detections, double wire_efficiency, std::string name);

    bool is_deterministic(int n) const override;
    int sample(int n) const override;
    void accept(IDetectorVisitor& visitor) const override { visitor.visit(*this); }
    double efficiency() const override { return wire_efficiency_; }
    std::shared_ptr<ADetector> clone() const override;
    std::vector<double> _inner_detect(int n) const override;

    // P(k|n) of the uncapped model.
    double conditional_probability(int k, int n) const;

    int n_wires() const { return n_wires_; }
    int max_detections() const { return max_detections_; }

  private:
    // P(0..k_max | n) of the uncapped model. The wire recurrence is walked row by row over the
    // photon count, once per value, rather than as a tree of 2^n calls.
    std::vector<double> conditional_row(int k_max, int n) const;
    // The reading's cap for n photons.
    int cap(int n) const;

    int n_wires_;
    int max_detections_;
    double wire_efficiency_;
};

}  // namespace Detector
