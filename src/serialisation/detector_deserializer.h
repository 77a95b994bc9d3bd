#pragma once

#include <filesystem>
#include <istream>
#include <memory>

#include "detectors/a_detector.h"
#include "detectors/bs_layered_detector.h"
#include "detectors/ppnr_detector.h"

namespace galvorne::schema {
class Detector;
class BSLayeredPPNR;
class IDetector;
}  // namespace galvorne::schema

namespace Serial {

// Detector descriptions into detector models; the library never writes them. The models'
// constructors refuse settings they cannot work with (std::invalid_argument).
class DetectorDeserializer {
  public:
    static std::shared_ptr<Detector::PPNRDetector> deserialize(
        galvorne::schema::Detector const& message);
    static std::shared_ptr<Detector::BSLayeredDetector> deserialize(
        galvorne::schema::BSLayeredPPNR const& message);
    // std::runtime_error "Component type not supported by serialization" when neither kind is
    // set.
    static std::shared_ptr<Detector::ADetector> deserialize(
        galvorne::schema::IDetector const& message);
    static std::shared_ptr<Detector::ADetector> deserialize(std::istream& stream);
    static std::shared_ptr<Detector::ADetector> deserialize(std::filesystem::path const& path);
};

}  // namespace Serial
