#include "serialisation/detector_deserializer.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "serialisation/proto/circuit.pb.h"
#include "serialisation/temp_path.h"
#include "serialisation/wire_bytes.h"
#include "test_support.h"

namespace {

namespace schema = galvorne::schema;
using Serial::DetectorDeserializer;
using test_support::expect_throw_message;
using wire_bytes::from_hex;

std::shared_ptr<Detector::ADetector> read(const std::string& bytes) {
    std::istringstream in(bytes);
    return DetectorDeserializer::deserialize(in);
}

TEST(DetectorDeserializer, ReadsAWireDetector) {
    const auto detector = read(from_hex("12 10 0A 01 64 10 02 18 01 21 CD CC CC CC CC CC EC 3F"));
    const auto* wired = dynamic_cast<const Detector::PPNRDetector*>(detector.get());
    ASSERT_NE(wired, nullptr);
    EXPECT_EQ(wired->n_wires(), 2);
    EXPECT_EQ(wired->max_detections(), 1);
    EXPECT_EQ(wired->efficiency(), 0.9);
    EXPECT_EQ(wired->get_name(), "d");
    EXPECT_EQ(wired->behaviour(), 3);
}

TEST(DetectorDeserializer, ReadsALayeredDetector) {
    const auto detector = read(from_hex("0A 0B 10 03 19 00 00 00 00 00 00 E0 3F"));
    const auto* layered = dynamic_cast<const Detector::BSLayeredDetector*>(detector.get());
    ASSERT_NE(layered, nullptr);
    EXPECT_EQ(layered->bs_layers(), 3);
    EXPECT_EQ(layered->reflectivity(), 0.5);
    EXPECT_EQ(layered->get_name(), "");
}

TEST(DetectorDeserializer, AbsentValuesReadAsZero) {
    // An empty wire description has efficiency 0: it sees no photon.
    const auto detector = read(from_hex("12 00"));
    EXPECT_EQ(detector->behaviour(), 3);
    EXPECT_EQ(detector->efficiency(), 0.0);
    EXPECT_EQ(detector->detect(2), (std::vector<double>{1, 0, 0}));
}

TEST(DetectorDeserializer, RefusesADescriptionOfNeitherKind) {
    expect_throw_message<std::runtime_error>([] { read(""); },
                                             "Component type not supported by serialization");
}

TEST(DetectorDeserializer, SettingsTheModelsCannotUseAreRefused) {
    schema::IDetector message;
    message.mutable_detector()->set_n_wires(-1);
    EXPECT_THROW(read(message.SerializeAsString()), std::invalid_argument);
    message.mutable_detector()->set_n_wires(0);
    message.mutable_detector()->set_max_detections(-5);
    EXPECT_THROW(read(message.SerializeAsString()), std::invalid_argument);
    message.mutable_ppnr()->set_bs_layers(30);
    EXPECT_THROW(read(message.SerializeAsString()), std::invalid_argument);
}

TEST(DetectorDeserializer, RefusesBytesThatAreNoDetector) {
    for (const char* hex : {"12", "12 05 0A 01", "12 03 0A 01 FF", "07"})
        expect_throw_message<std::runtime_error>([&] { read(from_hex(hex)); },
                                                 "Could not parse serialized content");
}

TEST(DetectorDeserializer, ReadsFiles) {
    const TempPath path("detector.bin");
    {
        std::ofstream file(*path, std::ios::binary);
        file << from_hex("0A 0B 10 03 19 00 00 00 00 00 00 E0 3F");
    }
    EXPECT_EQ(DetectorDeserializer::deserialize(*path)->behaviour(), 3);
    const std::string missing = (*path).string() + ".missing";
    expect_throw_message<std::runtime_error>(
        [&] { DetectorDeserializer::deserialize(std::filesystem::path(missing)); },
        "File not found: " + missing);
}

}  // namespace
