#include "backends/configurator_map.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

ConfiguratorMap::ConfiguratorMap(int first_measured_mode, int last_measured_mode,
                                 int first_configured_mode, std::map<Detection, Matrix> cfg_map,
                                 Matrix default_unitary)
    : first_measured_mode_(first_measured_mode),
      last_measured_mode_(last_measured_mode),
      first_configured_mode_(first_configured_mode),
      cfg_map_(std::move(cfg_map)),
      default_unitary_(std::move(default_unitary)) {
    if (last_measured_mode_ < first_measured_mode_)
        throw std::invalid_argument(
            "The last configured mode must be greater or equal to the first measured mode");
    // 64 bits: the range of two extreme ints does not fit in an int.
    const std::int64_t measured =
        static_cast<std::int64_t>(last_measured_mode_) - first_measured_mode_ + 1;
    for (auto const& [key, block] : cfg_map_)
        if (static_cast<std::int64_t>(key.size()) != measured)
            throw std::invalid_argument("All measures must have a size of the number of modes");
}

Matrix const& ConfiguratorMap::operator[](Detection const& key) const {
    const auto found = cfg_map_.find(key);
    return found == cfg_map_.end() ? default_unitary_ : found->second;
}
