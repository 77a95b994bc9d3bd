#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>

#include <google/protobuf/generated_message_bases.h>
#include <gtest/gtest.h>

#include "serialisation/proto/circuit.pb.h"
#include "serialisation/wire_bytes.h"

namespace {

namespace schema = galvorne::schema;
using wire_bytes::from_hex;
using wire_bytes::to_hex;

struct EncodingCase {
    const char* label;
    std::function<std::unique_ptr<google::protobuf::Message>()> make;
    const char* hex;
};

void PrintTo(const EncodingCase& c, std::ostream* os) {
    *os << c.label;
}

class Encoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(Encoding, WritesTheseBytesAndReadsThemBack) {
    const auto message = GetParam().make();
    std::string bytes;
    ASSERT_TRUE(message->SerializePartialToString(&bytes));
    EXPECT_EQ(to_hex(bytes), GetParam().hex);
    const std::unique_ptr<google::protobuf::Message> back(message->New());
    ASSERT_TRUE(back->ParseFromString(bytes));
    EXPECT_EQ(back->SerializePartialAsString(), bytes);
}

template <typename M>
std::unique_ptr<google::protobuf::Message> make(const std::function<void(M&)>& fill) {
    auto message = std::make_unique<M>();
    fill(*message);
    return message;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Encoding,
    testing::Values(
        EncodingCase{"ZeroWidthStartBarrier",
                     [] {
                         return make<schema::Component>([](auto& c) {
                             c.set_n_mode(2);
                             c.mutable_barrier()->set_visible(false);
                         });
                     },
                     "10 02 B2 01 00"},
        EncodingCase{"PackedPermutation",
                     [] {
                         return make<schema::Permutation>([](auto& p) {
                             p.add_permutations(1);
                             p.add_permutations(0);
                         });
                     },
                     "0A 02 01 00"},
        EncodingCase{"ZeroRealValue",
                     [] { return make<schema::Parameter>([](auto& p) { p.set_real_value(0.0); }); },
                     "09 00 00 00 00 00 00 00 00"},
        EncodingCase{"EmptyParameter", [] { return make<schema::Parameter>([](auto&) {}); }, ""},
        EncodingCase{"NegativeZero",
                     [] {
                         return make<schema::ComplexDouble>([](auto& c) {
                             c.set_real_value(-0.0);
                             c.set_imaginary_value(0.0);
                         });
                     },
                     "09 00 00 00 00 00 00 00 80"},
        EncodingCase{"RxBeamSplitter",
                     [] {
                         return make<schema::BeamSplitter>([](auto& b) {
                             b.set_convention(schema::BeamSplitter::Rx);
                             b.mutable_theta()->set_real_value(1.0);
                         });
                     },
                     "12 09 09 00 00 00 00 00 00 F0 3F"},
        EncodingCase{"OneByOneMatrix",
                     [] {
                         return make<schema::Matrix>([](auto& m) {
                             m.set_rows(1);
                             m.set_cols(1);
                             m.mutable_numeric()->add_data()->set_real_value(1.0);
                         });
                     },
                     "08 01 10 01 1A 0B 0A 09 09 00 00 00 00 00 00 F0 3F"},
        EncodingCase{
            "NegativeStartingMode",
            [] { return make<schema::Component>([](auto& c) { c.set_starting_mode(-1); }); },
            "08 FF FF FF FF FF FF FF FF FF 01"},
        EncodingCase{"EmptyIDetector", [] { return make<schema::IDetector>([](auto&) {}); }, ""},
        EncodingCase{"EmptyConfigurator", [] { return make<schema::FFConfigurator>([](auto&) {}); },
                     ""},
        EncodingCase{"EmptyHerald",
                     [] { return make<schema::APort>([](auto& p) { p.mutable_herald(); }); },
                     "12 00"},
        EncodingCase{"EmptyAPort", [] { return make<schema::APort>([](auto&) {}); }, ""},
        EncodingCase{"ZeroKeyedPort",
                     [] {
                         return make<schema::Experiment>(
                             [](auto& e) { (*e.mutable_input_ports())[0] = schema::APort(); });
                     },
                     "2A 04 08 00 12 00"},
        EncodingCase{"ConfigCircKey",
                     [] {
                         return make<schema::FFCircuitProvider>([](auto& f) {
                             (*f.mutable_config_circ())[""] = schema::CircuitOrExperiment();
                         });
                     },
                     "A2 01 04 0A 00 12 00"},
        EncodingCase{"FloatMapping",
                     [] {
                         return make<schema::VariableValues>(
                             [](auto& v) { (*v.mutable_mapping())["a"] = 0.5f; });
                     },
                     "0A 08 0A 01 61 15 00 00 00 3F"},
        EncodingCase{"PackedInputMapping",
                     [] {
                         return make<schema::CompiledCircuitVersion>([](auto& v) {
                             for (int i : {1, 2, 3}) v.add_user_input_mapping(i);
                         });
                     },
                     "1A 03 01 02 03"},
        EncodingCase{
            "PackedDoubles",
            [] { return make<schema::CompiledCircuit>([](auto& c) { c.add_parameters(1.0); }); },
            "1A 08 00 00 00 00 00 00 F0 3F"}),
    [](const testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.label); });

TEST(Schema, ReadsUnpackedRepeatedScalarsAsPacked) {
    schema::Permutation permutation;
    ASSERT_TRUE(permutation.ParseFromString(from_hex("08 01 08 00")));
    EXPECT_EQ(to_hex(permutation.SerializeAsString()), "0A 02 01 00");

    schema::CompiledCircuitVersion version;
    ASSERT_TRUE(version.ParseFromString(from_hex("18 01 18 02 18 03")));
    EXPECT_EQ(to_hex(version.SerializeAsString()), "1A 03 01 02 03");
    // An unpacked value after a packed record is appended.
    ASSERT_TRUE(version.ParseFromString(from_hex("1A 02 01 02 18 03")));
    EXPECT_EQ(version.user_input_mapping_size(), 3);
    version.clear_user_input_mapping();
    version.add_user_input_mapping(-1);
    EXPECT_EQ(version.SerializeAsString().size(), 12u);

    schema::CompiledCircuit compiled;
    ASSERT_TRUE(compiled.ParseFromString(from_hex("19 00 00 00 00 00 00 F0 3F")));
    ASSERT_EQ(compiled.parameters_size(), 1);
    EXPECT_EQ(compiled.parameters(0), 1.0);
}

TEST(Schema, KeepsUnknownFieldsOutOfTheOneof) {
    schema::Component component;
    ASSERT_TRUE(component.ParseFromString(from_hex("6A 00")));  // field 13, unassigned
    EXPECT_EQ(component.type_case(), schema::Component::TYPE_NOT_SET);
    EXPECT_EQ(to_hex(component.SerializeAsString()), "6A 00");
}

TEST(Schema, OneofMembersReplaceEachOther) {
    schema::Component component;
    component.mutable_wave_plate()->mutable_delta()->set_real_value(1.0);
    component.mutable_half_wave_plate();
    EXPECT_EQ(component.type_case(), schema::Component::kHalfWavePlate);
    EXPECT_FALSE(component.has_wave_plate());

    schema::FFCircuitProvider provider;
    ASSERT_TRUE(provider.ParseFromString(from_hex("52 00 5A 00")));
    EXPECT_EQ(provider.default_circuit_case(), schema::FFCircuitProvider::kExperiment);
}

TEST(Schema, LaterMapRecordsReplaceEarlierOnes) {
    schema::Experiment experiment;
    // key 3 with a port named "a", then key 3 with a herald.
    ASSERT_TRUE(experiment.ParseFromString(
        from_hex("32 09 08 03 12 05 0A 03 0A 01 61 32 06 08 03 12 02 12 00")));
    ASSERT_EQ(experiment.output_ports().size(), 1u);
    EXPECT_TRUE(experiment.output_ports().at(3).has_herald());
}

TEST(Schema, FloatValuesRoundToSinglePrecision) {
    schema::VariableValues values;
    (*values.mutable_mapping())["x"] = 0.1f;
    schema::VariableValues back;
    ASSERT_TRUE(back.ParseFromString(values.SerializeAsString()));
    EXPECT_EQ(static_cast<double>(back.mapping().at("x")), 0.100000001490116119384765625);
}

TEST(Schema, RefusesStringsThatAreNotUtf8) {
    schema::Circuit circuit;
    EXPECT_FALSE(circuit.ParseFromString(from_hex("0A 01 FF")));
    schema::VariableValues values;
    EXPECT_FALSE(values.ParseFromString(from_hex("0A 08 0A 01 FF 15 00 00 00 3F")));
}

TEST(Schema, FieldlessMessageHasTheZeroFieldsBase) {
    static_assert(std::is_base_of_v<google::protobuf::internal::ZeroFieldsBase,
                                    schema::PolarizedBeamSplitter>);
    EXPECT_TRUE(schema::BeamSplitter_Convention_IsValid(2));
    EXPECT_FALSE(schema::BeamSplitter_Convention_IsValid(3));
    EXPECT_EQ(schema::Circuit::descriptor()->file()->name(), "circuit.proto");
    EXPECT_EQ(schema::Circuit::descriptor()->file()->package(), "galvorne.schema");
    EXPECT_EQ(schema::Circuit::descriptor()->file()->message_type_count(), 30);
}

// Sub-circuits nested `depth` deep, the innermost holding one phase shifter with its phase.
std::string nested_circuit(int depth) {
    schema::Circuit outer;
    schema::Circuit* circuit = &outer;
    for (int i = 0; i < depth; ++i) circuit = circuit->add_components()->mutable_circuit();
    circuit->add_components()->mutable_phase_shifter()->mutable_phi()->set_real_value(0.5);
    return outer.SerializeAsString();
}

TEST(Schema, ParsesUpToTheRuntimesNestingLimit) {
    schema::Circuit circuit;
    EXPECT_TRUE(circuit.ParseFromString(nested_circuit(48)));
    EXPECT_FALSE(circuit.ParseFromString(nested_circuit(49)));
}

}  // namespace
