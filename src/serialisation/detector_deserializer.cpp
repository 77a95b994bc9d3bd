#include "serialisation/detector_deserializer.h"

#include <stdexcept>

#include "serialisation/message_io.h"
#include "serialisation/proto/circuit.pb.h"

namespace Serial {

std::shared_ptr<Detector::PPNRDetector> DetectorDeserializer::deserialize(
    galvorne::schema::Detector const& message) {
    return std::make_shared<Detector::PPNRDetector>(message.n_wires(), message.max_detections(),
                                                    message.wire_efficiency(), message.name());
}

std::shared_ptr<Detector::BSLayeredDetector> DetectorDeserializer::deserialize(
    galvorne::schema::BSLayeredPPNR const& message) {
    return std::make_shared<Detector::BSLayeredDetector>(message.bs_layers(),
                                                         message.reflectivity(), message.name());
}

std::shared_ptr<Detector::ADetector> DetectorDeserializer::deserialize(
    galvorne::schema::IDetector const& message) {
    switch (message.type_case()) {
        case galvorne::schema::IDetector::kPpnr:
            return deserialize(message.ppnr());
        case galvorne::schema::IDetector::kDetector:
            return deserialize(message.detector());
        default:
            throw std::runtime_error("Component type not supported by serialization");
    }
}

std::shared_ptr<Detector::ADetector> DetectorDeserializer::deserialize(std::istream& stream) {
    galvorne::schema::IDetector message;
    details::parse_whole(stream, message);
    return deserialize(message);
}

std::shared_ptr<Detector::ADetector> DetectorDeserializer::deserialize(
    std::filesystem::path const& path) {
    std::ifstream file = details::open_for_reading(path);
    return deserialize(file);
}

}  // namespace Serial
