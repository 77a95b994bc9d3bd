#include "serialisation/parameter_serializer.h"

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "serialisation/proto/circuit.pb.h"
#include "serialisation/wire_bytes.h"
#include "test_support.h"

namespace {

namespace schema = galvorne::schema;
using Serial::ParameterSerializer;
using wire_bytes::from_hex;
using wire_bytes::to_hex;

std::string write(const Symb::Parameter& parameter) {
    const std::unique_ptr<schema::Parameter> message(ParameterSerializer::serialize(parameter));
    return message->SerializeAsString();
}

std::shared_ptr<Symb::Parameter> read(const std::string& bytes) {
    schema::Parameter message;
    EXPECT_TRUE(message.ParseFromString(bytes));
    return ParameterSerializer::deserialize(message);
}

TEST(ParameterSerializer, FixedValueTravelsAlone) {
    const std::string bytes = write(Symb::Parameter(0.5));
    EXPECT_EQ(to_hex(bytes), "09 00 00 00 00 00 00 E0 3F");
    const auto back = read(bytes);
    ASSERT_TRUE(back->hasValue());
    EXPECT_EQ(back->value(), 0.5);
    EXPECT_EQ(back->name(), "");
    EXPECT_FALSE(back->isAnonymous());
}

TEST(ParameterSerializer, NamedValueKeepsItsName) {
    Symb::Parameter x("x");
    x.setValue(0.5);
    const std::string bytes = write(x);
    EXPECT_EQ(to_hex(bytes), "09 00 00 00 00 00 00 E0 3F 22 01 78");
    const auto back = read(bytes);
    EXPECT_EQ(back->name(), "x");
    EXPECT_EQ(back->value(), 0.5);
}

TEST(ParameterSerializer, VariableTravelsAsSymbolAndName) {
    const std::string bytes = write(Symb::Parameter("x"));
    EXPECT_EQ(to_hex(bytes), "12 01 78 22 01 78");
    const auto back = read(bytes);
    EXPECT_EQ(back->name(), "x");
    EXPECT_FALSE(back->hasValue());
    EXPECT_FALSE(back->isAnonymous());
}

TEST(ParameterSerializer, AnonymousVariableComesBackWithAFreshName) {
    const Symb::Parameter anonymous;
    schema::Parameter message;
    ASSERT_TRUE(message.ParseFromString(write(anonymous)));
    EXPECT_EQ(message.symbol(), anonymous.name());
    EXPECT_EQ(message.name(), anonymous.name());
    const auto back = ParameterSerializer::deserialize(message);
    EXPECT_TRUE(back->isAnonymous());
    EXPECT_FALSE(back->hasValue());
    EXPECT_NE(back->name(), anonymous.name());
}

struct ReadCase {
    const char* label;
    const char* hex;
    const char* name;  // nullptr: a fresh anonymous name
    bool has_value;
    double value;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.label;
}

class ParameterReading : public testing::TestWithParam<ReadCase> {};

TEST_P(ParameterReading, BuildsTheParameterTheMessageNames) {
    const ReadCase& c = GetParam();
    const auto parameter = read(from_hex(c.hex));
    if (c.name != nullptr) {
        EXPECT_EQ(parameter->name(), c.name);
        EXPECT_FALSE(parameter->isAnonymous());
    } else {
        EXPECT_TRUE(parameter->isAnonymous());
    }
    ASSERT_EQ(parameter->hasValue(), c.has_value);
    if (c.has_value) {
        EXPECT_EQ(parameter->value(), c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ParameterReading,
    testing::Values(ReadCase{"NameOverSymbol", "12 01 79 22 01 78", "x", false, 0},
                    ReadCase{"SymbolAlone", "12 01 79", "y", false, 0},
                    ReadCase{"UnderscoresAlone", "22 02 5F 5F", "__", false, 0},
                    ReadCase{"DigitsThenLetter", "22 05 5F 5F 31 32 61", "__12a", false, 0},
                    ReadCase{"GeneratedNameWithValue",
                             "09 00 00 00 00 00 00 00 40 22 04 5F 5F 31 32", nullptr, true, 2.0},
                    ReadCase{"GeneratedSymbol", "12 03 5F 5F 37", nullptr, false, 0},
                    ReadCase{"Nothing", "", nullptr, false, 0},
                    ReadCase{"ZeroValue", "09 00 00 00 00 00 00 00 00", "", true, 0.0},
                    ReadCase{"ExprParametersIgnored", "12 01 79 2A 03 12 01 7A", "y", false, 0}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.label); });

TEST(ParameterSerializer, RefusesExpressionsEvenWithAName) {
    for (const char* hex : {"1A 03 61 2B 62", "1A 03 61 2B 62 22 01 78", "1A 00"})
        test_support::expect_throw_message<std::runtime_error>(
            [&] { read(from_hex(hex)); },
            "Symbolic expression deserialization has not been implemented yet");
}

}  // namespace
