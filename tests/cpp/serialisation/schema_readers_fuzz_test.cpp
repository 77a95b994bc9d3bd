// Seeded mutation fuzzing of the schema readers (circuits, matrices, detectors), so that the
// sanitized test build (leak checks included) reads hostile bytes too: every input is refused with
// a documented exception or read into an object that writes back to bytes the reader takes again.

#include <functional>
#include <new>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/composite_circuit.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "detectors/a_detector.h"
#include "detectors/bs_layered_detector.h"
#include "fuzz_mutation.h"
#include "serialisation/circuit_deserializer.h"
#include "serialisation/circuit_serializer.h"
#include "serialisation/detector_deserializer.h"
#include "serialisation/matrix_serialization.h"
#include "serialisation/wire_bytes.h"

namespace {

using wire_bytes::from_hex;

// Pieces that steer mutations towards the wire format's corners: long and negative varints,
// lengths, group and reserved wire types, the tags of nested members.
const std::vector<std::string> tokens = {from_hex("FF FF FF FF FF FF FF FF FF 01"),
                                         from_hex("FF FF FF FF 07"),
                                         from_hex("80 80 80 80 10"),
                                         from_hex("00"),
                                         from_hex("7F"),
                                         from_hex("0B"),
                                         from_hex("0C"),
                                         from_hex("0E"),
                                         from_hex("0F"),
                                         from_hex("12 00"),
                                         from_hex("1A 00"),
                                         from_hex("0A 00"),
                                         from_hex("52 00"),
                                         from_hex("B2 01 00"),
                                         from_hex("09 00 00 00 00 00 00 F8 7F"),
                                         from_hex("C0 80 80"),
                                         from_hex("08 FF FF FF FF 0F"),
                                         from_hex("10 80 80 80 80 08")};

// One input in eight is noise; the others are mutated seeds.
std::string next_input(std::mt19937& rng, const std::vector<std::string>& seeds) {
    if (rng() % 8 == 0) {
        std::string noise(rng() % 40, '\0');
        for (char& c : noise) c = static_cast<char>(rng());
        return noise;
    }
    return fuzz::mutate(rng, seeds[rng() % seeds.size()], tokens, seeds);
}

struct Reader {
    const char* name;
    std::vector<std::string> seeds;
    // Reads the bytes and checks what was read; lets the reader's exceptions through.
    std::function<void(const std::string&)> read;
};

void PrintTo(const Reader& reader, std::ostream* os) {
    *os << reader.name;
}

class SchemaReaderFuzz : public testing::TestWithParam<Reader> {};

TEST_P(SchemaReaderFuzz, RefusesWithItsErrorsOrReadsConsistently) {
    // Invalid UTF-8 in a string field is logged by the runtime on every parse.
    google::protobuf::LogSilencer quiet;
    const Reader& reader = GetParam();
    std::mt19937 rng(fuzz::seed(17));
    int accepted = 0;
    for (int i = 0; i < fuzz::count(); ++i) {
        const std::string bytes = next_input(rng, reader.seeds);
        try {
            reader.read(bytes);
            ++accepted;
        } catch (const std::runtime_error&) {
        } catch (const std::invalid_argument&) {
        } catch (const std::out_of_range&) {
        } catch (const std::bad_alloc&) {
        }
        if (HasFailure()) {
            ADD_FAILURE() << "input " << i << ": " << wire_bytes::to_hex(bytes);
            return;
        }
    }
    RecordProperty("accepted", accepted);
}

void read_matrix(const std::string& bytes) {
    std::istringstream in(bytes);
    const Matrix matrix = Serial::MatrixSerialization::deserialize(in);
    std::ostringstream out;
    Serial::MatrixSerialization::toStream(matrix, out);
    std::istringstream again(out.str());
    const Matrix back = Serial::MatrixSerialization::deserialize(again);
    ASSERT_EQ(back.rows(), matrix.rows());
    ASSERT_EQ(back.cols(), matrix.cols());
}

void read_detector(const std::string& bytes) {
    std::istringstream in(bytes);
    const auto detector = Serial::DetectorDeserializer::deserialize(in);
    // Many layers fan a few photons out over so many counters that the table takes long.
    const auto* layered = dynamic_cast<const Detector::BSLayeredDetector*>(detector.get());
    const int photons = layered != nullptr && layered->bs_layers() > 4 ? 1 : 3;
    for (int n = 0; n <= photons; ++n) {
        ASSERT_EQ(detector->detect(n).size(), static_cast<std::size_t>(n) + 1);
        const int k = detector->sample(n);
        ASSERT_TRUE(k >= 0 && k <= n) << k;
    }
}

void read_circuit(const std::string& bytes) {
    std::istringstream in(bytes);
    const auto circuit = Serial::CircuitDeserializer::deserialize(in);
    std::ostringstream out;
    Serial::CircuitSerializer::toStream(*circuit, out);
    std::istringstream again(out.str());
    const auto back = Serial::CircuitDeserializer::deserialize(again);
    ASSERT_EQ(back->m, circuit->m);
    ASSERT_EQ(back->name(), circuit->name());
    ASSERT_EQ(back->componentCount(), circuit->componentCount());
    ASSERT_FALSE(back->describe().empty());
}

std::string circuit_bytes(const Circuit::CompositeCircuit& circuit) {
    std::ostringstream out;
    Serial::CircuitSerializer::toStream(circuit, out);
    return out.str();
}

// Every component kind, parameters of every shape, a sub-circuit.
std::vector<std::string> circuit_seeds() {
    auto inner = std::make_shared<Circuit::CompositeCircuit>(3, "in");
    inner->add(1, std::make_shared<Circuit::PhaseShifter>(std::make_shared<Symb::Parameter>("x")));
    inner->add(0, std::make_shared<Circuit::Permutation>(std::vector<int>{2, 0, 1}));
    Circuit::CompositeCircuit outer(5, "out");
    outer.add(0, std::make_shared<Circuit::BeamSplitter_Rx>(
                     std::make_shared<Symb::Parameter>(0.5), std::make_shared<Symb::Parameter>(),
                     std::make_shared<Symb::Parameter>("a"), std::make_shared<Symb::Parameter>(1.0),
                     std::make_shared<Symb::Parameter>(-0.0)));
    outer.add(3, std::make_shared<Circuit::BeamSplitter_H>(0.25));
    outer.add(1, std::make_shared<Circuit::Unitary>(Matrix::Identity(2, 2), "U", false));
    outer.add(0, std::make_shared<Circuit::Barrier>(5, true));
    outer.add(2, inner);
    Circuit::CompositeCircuit ry(2, "");
    ry.add(0, std::make_shared<Circuit::BeamSplitter_Ry>(1.0));
    return {from_hex("0A 01 63 10 01 22 0F 10 01 5A 0B 0A 09 09 00 00 00 00 00 00 E0 3F"),
            circuit_bytes(outer), circuit_bytes(*inner), circuit_bytes(ry)};
}

INSTANTIATE_TEST_SUITE_P(
    Readers, SchemaReaderFuzz,
    testing::Values(
        Reader{"Circuit", circuit_seeds(), read_circuit},
        Reader{"Matrix",
               {from_hex("08 02 10 02 1A 2C 0A 09 09 00 00 00 00 00 00 F0 3F 0A 09 09 00 00 00 00 "
                         "00 00 00 40 0A 09 09 00 00 00 00 00 00 08 40 0A 09 11 00 00 00 00 00 00 "
                         "10 40"),
                from_hex("08 01 10 01 1A 0B 0A 09 09 00 00 00 00 00 00 F0 3F"), from_hex("1A 00"),
                from_hex("08 01 10 01 22 02 0A 00")},
               read_matrix},
        Reader{"Detector",
               {from_hex("12 10 0A 01 64 10 02 18 01 21 CD CC CC CC CC CC EC 3F"),
                from_hex("0A 0B 10 03 19 00 00 00 00 00 00 E0 3F"),
                from_hex("12 0B 10 00 21 00 00 00 00 00 00 E0 3F"), from_hex("0A 02 10 01")},
               read_detector}),
    [](const testing::TestParamInfo<Reader>& info) { return std::string(info.param.name); });

}  // namespace
