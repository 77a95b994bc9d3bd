#pragma once

#include <map>
#include <vector>

#include "runtime/matrix.h"

// A feed-forward configurator: the photon counts measured in the modes first_measured_mode to
// last_measured_mode select the unitary block applied from first_configured_mode on; outcomes
// that the map does not list select the default block. Immutable once built.
class ConfiguratorMap {
  public:
    using Detection = std::vector<int>;

    // Refuses a measured range that ends before it starts and keys of another length than the
    // range. Modes and blocks are checked against a circuit when the configurator joins one.
    ConfiguratorMap(int first_measured_mode, int last_measured_mode, int first_configured_mode,
                    std::map<Detection, Matrix> cfg_map, Matrix default_unitary);

    int first_measured_mode() const { return first_measured_mode_; }
    int last_measured_mode() const { return last_measured_mode_; }
    int first_configured_mode() const { return first_configured_mode_; }
    std::map<Detection, Matrix> const& cfg_map() const { return cfg_map_; }
    Matrix const& default_unitary() const { return default_unitary_; }

    bool is_default(Detection const& key) const { return !cfg_map_.contains(key); }
    // The block of this outcome, or the default block.
    Matrix const& operator[](Detection const& key) const;

  private:
    int first_measured_mode_;
    int last_measured_mode_;
    int first_configured_mode_;
    std::map<Detection, Matrix> cfg_map_;
    Matrix default_unitary_;
};
