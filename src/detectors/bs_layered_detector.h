#pragma once

#include <memory>
#include <string>
#include <vector>

#include "detectors/a_detector.h"
#include "fockspace/fock_space_function.h"

namespace Detector {

// bs_layers layers of beam splitters of the given reflectivity fan one mode out into
// 2^bs_layers click/no-click counters; the reading is the number of counters that clicked.
class BSLayeredDetector : public ADetector {
  public:
    // More layers than Fock states have modes for (2^8 = 256 counters) can never detect two
    // photons, so such a detector is refused up front, like a negative layer count, with
    // std::invalid_argument; so is a reflectivity that is not in [0, 1] (NaN included).
    BSLayeredDetector(int bs_layers, double reflectivity, std::string name);

    bool is_deterministic(int n) const override { return n < 2; }
    int sample(int n) const override;
    void accept(IDetectorVisitor& visitor) const override { visitor.visit(*this); }
    double efficiency() const override { return 1.0; }
    std::shared_ptr<ADetector> clone() const override;
    // std::runtime_error from FockState for n > 256.
    std::vector<double> _inner_detect(int n) const override;

    // One more layer: input mode i of each state splits into output modes 2i and 2i + 1.
    FockSpaceFunction _get_next_layer(const FockSpaceFunction& f) const;

    int bs_layers() const { return bs_layers_; }
    double reflectivity() const { return reflectivity_; }

    static constexpr int max_layers = 8;

  private:
    // std::length_error when the last layer's states, all reached when the splitters send
    // photons both ways, cannot fit in memory.
    void check_last_layer_fits(int n) const;

    int bs_layers_;
    double reflectivity_;
};

}  // namespace Detector
