#include <complex>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/composite_circuit.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "serialisation/circuit_deserializer.h"
#include "serialisation/circuit_serializer.h"
#include "serialisation/proto/circuit.pb.h"
#include "serialisation/temp_path.h"
#include "serialisation/wire_bytes.h"
#include "test_support.h"

namespace {

namespace schema = galvorne::schema;
using Circuit::CompositeCircuit;
using Serial::CircuitDeserializer;
using Serial::CircuitSerializer;
using test_support::expect_throw_message;
using wire_bytes::from_hex;
using wire_bytes::to_hex;
using ParameterPtr = std::shared_ptr<Symb::Parameter>;

const char* const one_phase_shifter =
    "0A 01 63 10 01 22 0F 10 01 5A 0B 0A 09 09 00 00 00 00 00 00 E0 3F";

std::string write(const CompositeCircuit& circuit) {
    std::ostringstream out;
    CircuitSerializer::toStream(circuit, out);
    return out.str();
}

std::shared_ptr<CompositeCircuit> read(const std::string& bytes) {
    std::istringstream in(bytes);
    return CircuitDeserializer::deserialize(in);
}

std::shared_ptr<CompositeCircuit> read(const schema::Circuit& message) {
    return CircuitDeserializer::deserialize(message);
}

ParameterPtr named(const std::string& name, std::optional<double> value = std::nullopt) {
    auto p = std::make_shared<Symb::Parameter>(name);
    if (value) p->setValue(*value);
    return p;
}

ParameterPtr fixed(double value) {
    return std::make_shared<Symb::Parameter>(value);
}

TEST(CircuitSerialization, EmptyCircuitIsNoBytes) {
    EXPECT_EQ(write(CompositeCircuit(0, std::string())), "");
    const auto circuit = read("");
    EXPECT_EQ(circuit->m, 0u);
    EXPECT_EQ(circuit->name(), "");
    EXPECT_EQ(circuit->componentCount(), 0u);
}

TEST(CircuitSerialization, OnePhaseShifterInTwentyTwoBytes) {
    CompositeCircuit circuit(1, "c");
    circuit.add(0, std::make_shared<Circuit::PhaseShifter>(0.5));
    EXPECT_EQ(to_hex(write(circuit)), one_phase_shifter);
    const auto back = read(from_hex(one_phase_shifter));
    EXPECT_EQ(write(*back), from_hex(one_phase_shifter));
}

void expect_same_parameter(const Symb::Parameter& a, const Symb::Parameter& b) {
    ASSERT_EQ(a.hasValue(), b.hasValue());
    if (a.hasValue()) {
        EXPECT_EQ(a.value(), b.value());
    }
    EXPECT_EQ(a.isAnonymous(), b.isAnonymous());
    if (a.isAnonymous())
        EXPECT_NE(a.name(), b.name());
    else
        EXPECT_EQ(a.name(), b.name());
}

bool same_bits(const Matrix& a, const Matrix& b) {
    return a.rows() == b.rows() && a.cols() == b.cols() &&
           std::memcmp(a.data(), b.data(), sizeof(std::complex<double>) * a.size()) == 0;
}

void expect_same_circuit(const CompositeCircuit& a, const CompositeCircuit& b);

void expect_same_component(const Circuit::ACircuit& a, const Circuit::ACircuit& b) {
    ASSERT_EQ(typeid(a), typeid(b));
    EXPECT_EQ(a.m, b.m);
    using Location = Circuit::ABeamSplitter::PhaseLocation;
    if (const auto* bs = dynamic_cast<const Circuit::ABeamSplitter*>(&a)) {
        const auto& other = dynamic_cast<const Circuit::ABeamSplitter&>(b);
        expect_same_parameter(*bs->theta(), *other.theta());
        for (Location l :
             {Location::TopLeft, Location::BottomLeft, Location::TopRight, Location::BottomRight})
            expect_same_parameter(*bs->phi(l), *other.phi(l));
    } else if (const auto* ps = dynamic_cast<const Circuit::PhaseShifter*>(&a)) {
        expect_same_parameter(*ps->phi(), *dynamic_cast<const Circuit::PhaseShifter&>(b).phi());
    } else if (const auto* perm = dynamic_cast<const Circuit::Permutation*>(&a)) {
        EXPECT_EQ(perm->getPermutationVector(),
                  dynamic_cast<const Circuit::Permutation&>(b).getPermutationVector());
    } else if (const auto* u = dynamic_cast<const Circuit::Unitary*>(&a)) {
        const auto& other = dynamic_cast<const Circuit::Unitary&>(b);
        EXPECT_TRUE(same_bits(u->unitary(), other.unitary()));
        EXPECT_EQ(u->getName(), other.getName());
        EXPECT_EQ(u->supportsPolarization(), other.supportsPolarization());
    } else if (const auto* barrier = dynamic_cast<const Circuit::Barrier*>(&a)) {
        EXPECT_EQ(barrier->isVisible(), dynamic_cast<const Circuit::Barrier&>(b).isVisible());
    } else {
        expect_same_circuit(dynamic_cast<const CompositeCircuit&>(a),
                            dynamic_cast<const CompositeCircuit&>(b));
    }
}

void expect_same_circuit(const CompositeCircuit& a, const CompositeCircuit& b) {
    EXPECT_EQ(a.name(), b.name());
    EXPECT_EQ(a.m, b.m);
    ASSERT_EQ(a.componentCount(), b.componentCount());
    auto it = b.components().begin();
    for (const auto& [port, component] : a.components()) {
        EXPECT_EQ(port, it->port);
        expect_same_component(*component, *it->component);
        ++it;
    }
}

Matrix rotation(double angle) {
    Matrix u(2, 2);
    u << std::cos(angle), std::complex<double>(0, std::sin(angle)),
        std::complex<double>(0, std::sin(angle)), std::cos(angle);
    return u;
}

std::shared_ptr<CompositeCircuit> every_kind() {
    auto inner = std::make_shared<CompositeCircuit>(3, "inner");
    inner->add(1, std::make_shared<Circuit::PhaseShifter>(named("phi")));
    inner->add(0, std::make_shared<Circuit::Permutation>(std::vector<int>{2, 0, 1}));

    auto circuit = std::make_shared<CompositeCircuit>(6, "every kind");
    circuit->add(0, std::make_shared<Circuit::BeamSplitter_Rx>(fixed(1.25), named("a"),
                                                               std::make_shared<Symb::Parameter>(),
                                                               named("b", 0.5), fixed(-0.0)));
    circuit->add(4, std::make_shared<Circuit::BeamSplitter_Ry>(0.3));
    circuit->add(2, std::make_shared<Circuit::BeamSplitter_H>(named("t"), fixed(0.1), fixed(0.2),
                                                              fixed(0.3), fixed(0.4)));
    circuit->add(5, std::make_shared<Circuit::PhaseShifter>(std::make_shared<Symb::Parameter>()));
    circuit->add(1, std::make_shared<Circuit::Unitary>(rotation(0.7), "U", false));
    Matrix polarised = Matrix::Identity(4, 4);
    polarised.block(0, 0, 2, 2) = rotation(0.2);
    circuit->add(3, std::make_shared<Circuit::Unitary>(polarised, "", true));
    circuit->add(0, std::make_shared<Circuit::Barrier>(6, true));
    circuit->add(2, std::make_shared<Circuit::Barrier>(2, false));
    circuit->add(3, inner);
    return circuit;
}

TEST(CircuitSerialization, RoundTripKeepsEverythingButAnonymousNames) {
    const auto circuit = every_kind();
    const auto back = read(write(*circuit));
    expect_same_circuit(*circuit, *back);
}

TEST(CircuitSerialization, SubCircuitStaysOneNestedComponent) {
    const auto back = read(write(*every_kind()));
    const auto& last = back->components().back();
    EXPECT_EQ(last.port, 3u);
    const auto* inner = dynamic_cast<const CompositeCircuit*>(last.component.get());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->name(), "inner");
    EXPECT_EQ(inner->componentCount(), 2u);
}

TEST(CircuitSerialization, SharedSymbolIsWrittenTwiceAndRegroupedOnReading) {
    CompositeCircuit circuit(2, "");
    const auto x = named("x");
    circuit.add(0, std::make_shared<Circuit::PhaseShifter>(x));
    circuit.add(1, std::make_shared<Circuit::PhaseShifter>(x));
    schema::Circuit message;
    ASSERT_TRUE(message.ParseFromString(write(circuit)));
    for (const auto& component : message.components())
        EXPECT_EQ(component.phase_shifter().phi().symbol(), "x");
    const auto back = read(message);
    EXPECT_EQ(back->variableCount(), 1u);
    back->setVariableValue("x", 0.25);
    for (const auto& [port, component] : back->components())
        EXPECT_EQ(dynamic_cast<const Circuit::PhaseShifter&>(*component).phi()->value(), 0.25);
}

// A one-component circuit message of `m` modes whose component is filled by `fill`.
schema::Circuit one_component(int m, const std::function<void(schema::Component&)>& fill) {
    schema::Circuit message;
    message.set_n_mode(m);
    fill(*message.add_components());
    return message;
}

TEST(CircuitSerialization, ComponentWidthMattersOnlyForBarriers) {
    const auto bs = read(one_component(6, [](auto& c) {
        c.set_n_mode(5);
        c.mutable_beam_splitter()->mutable_theta()->set_real_value(1.0);
    }));
    EXPECT_EQ(bs->components().front().component->m, 2u);
    const auto barrier = read(one_component(6, [](auto& c) {
        c.set_n_mode(3);
        c.mutable_barrier();
    }));
    EXPECT_EQ(barrier->components().front().component->m, 3u);
    const auto empty = read(one_component(6, [](auto& c) { c.mutable_barrier(); }));
    EXPECT_EQ(empty->components().front().component->m, 0u);
}

struct RefusalCase {
    const char* label;
    std::function<void(schema::Component&)> fill;
    const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.label;
}

class ComponentRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(ComponentRefusal, IsReportedWhereverTheComponentSits) {
    schema::Circuit message;
    message.set_n_mode(4);
    message.add_components()->mutable_phase_shifter()->mutable_phi()->set_real_value(1.0);
    GetParam().fill(*message.add_components());
    message.add_components()->mutable_barrier();
    expect_throw_message<std::runtime_error>([&] { read(message); }, GetParam().message);
}

const char* const unsupported = "Component type not supported by serialization";

INSTANTIATE_TEST_SUITE_P(
    Members, ComponentRefusal,
    testing::Values(
        RefusalCase{"WavePlate", [](auto& c) { c.mutable_wave_plate(); }, unsupported},
        RefusalCase{"HalfWavePlate", [](auto& c) { c.mutable_half_wave_plate(); }, unsupported},
        RefusalCase{"TimeDelay", [](auto& c) { c.mutable_time_delay(); }, unsupported},
        RefusalCase{"LossChannel", [](auto& c) { c.mutable_loss_channel(); }, unsupported},
        RefusalCase{"PolarizedBS", [](auto& c) { c.mutable_polarized_beam_splitter(); },
                    unsupported},
        RefusalCase{"CompiledCircuit", [](auto& c) { c.mutable_compiled_circuit(); }, unsupported},
        RefusalCase{"FFConfigurator", [](auto& c) { c.mutable_ff_configurator(); }, unsupported},
        RefusalCase{"FFCircuitProvider", [](auto& c) { c.mutable_ff_circuit_provider(); },
                    unsupported},
        RefusalCase{"NoMember", [](auto&) {}, unsupported},
        RefusalCase{"NoTheta",
                    [](auto& c) {
                        c.mutable_beam_splitter()->set_convention(
                            static_cast<schema::BeamSplitter::Convention>(3));
                    },
                    "BS needs theta parameter"},
        RefusalCase{"UnknownConvention",
                    [](auto& c) {
                        auto* bs = c.mutable_beam_splitter();
                        bs->mutable_theta()->set_real_value(1.0);
                        bs->set_convention(static_cast<schema::BeamSplitter::Convention>(3));
                    },
                    "Unknown beam splitter convention"},
        RefusalCase{"ExpressionBeforeConvention",
                    [](auto& c) {
                        auto* bs = c.mutable_beam_splitter();
                        bs->mutable_theta()->set_real_value(1.0);
                        bs->mutable_phi_tl()->set_expression("a+b");
                        bs->set_convention(static_cast<schema::BeamSplitter::Convention>(3));
                    },
                    "Symbolic expression deserialization has not been implemented yet"},
        RefusalCase{"NegativeStartingMode",
                    [](auto& c) {
                        c.set_starting_mode(-1);
                        c.mutable_barrier();
                    },
                    "Negative starting mode -1"},
        RefusalCase{"NegativeBarrierWidth",
                    [](auto& c) {
                        c.set_n_mode(-2);
                        c.mutable_barrier();
                    },
                    "Negative barrier width -2"},
        RefusalCase{"NegativeSubCircuitModes", [](auto& c) { c.mutable_circuit()->set_n_mode(-3); },
                    "Negative mode count -3"},
        RefusalCase{"MatrixEntriesMissing",
                    [](auto& c) {
                        auto* mat = c.mutable_unitary()->mutable_mat();
                        mat->set_rows(2);
                        mat->set_cols(2);
                        mat->mutable_numeric()->add_data()->set_real_value(1.0);
                    },
                    "Matrix of 2 x 2 cannot hold 1 entries"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.label); });

TEST(CircuitSerialization, NegativeModeCountIsRefused) {
    schema::Circuit message;
    message.set_n_mode(-1);
    expect_throw_message<std::runtime_error>([&] { read(message); }, "Negative mode count -1");
}

TEST(CircuitSerialization, AbsentParametersReadAsFreshVariables) {
    const auto bs = read(one_component(
        2, [](auto& c) { c.mutable_beam_splitter()->mutable_theta()->set_real_value(1.0); }));
    const auto* rx =
        dynamic_cast<const Circuit::BeamSplitter_Rx*>(bs->components().front().component.get());
    ASSERT_NE(rx, nullptr);
    using Location = Circuit::ABeamSplitter::PhaseLocation;
    std::set<std::string> names;
    for (Location l :
         {Location::TopLeft, Location::BottomLeft, Location::TopRight, Location::BottomRight}) {
        EXPECT_TRUE(rx->phi(l)->isAnonymous());
        EXPECT_FALSE(rx->phi(l)->hasValue());
        names.insert(rx->phi(l)->name());
    }
    EXPECT_EQ(names.size(), 4u);

    const auto ps = read(one_component(1, [](auto& c) { c.mutable_phase_shifter(); }));
    const auto& phi =
        dynamic_cast<const Circuit::PhaseShifter&>(*ps->components().front().component).phi();
    EXPECT_TRUE(phi->isAnonymous());
    EXPECT_FALSE(phi->hasValue());
}

TEST(CircuitSerialization, ComponentChecksPassThrough) {
    expect_throw_message<std::invalid_argument>(
        [] { read(one_component(2, [](auto& c) { c.mutable_unitary(); })); },
        "Matrix must be unitary and not null");
    expect_throw_message<std::invalid_argument>(
        [] {
            read(one_component(2, [](auto& c) {
                c.mutable_permutation()->add_permutations(0);
                c.mutable_permutation()->add_permutations(-1);
            }));
        },
        "permutationVector is not a permutation");
    EXPECT_THROW(read(one_component(2,
                                    [](auto& c) {
                                        c.set_starting_mode(1);
                                        c.mutable_beam_splitter()->mutable_theta();
                                    })),
                 std::out_of_range);
}

TEST(CircuitSerialization, DropsFieldsWithoutCounterpart) {
    schema::Circuit message;
    ASSERT_TRUE(message.ParseFromString(from_hex(one_phase_shifter)));
    message.set_annotation("note");
    message.mutable_components(0)->set_offset_x(2.5);
    message.mutable_components(0)->set_annotation("a");
    const auto circuit = read(message);
    EXPECT_EQ(write(*circuit), from_hex(one_phase_shifter));
}

TEST(CircuitSerialization, ConcatenatedCircuitsMergeIntoOne) {
    CompositeCircuit second(3, "second");
    second.add(1, std::make_shared<Circuit::BeamSplitter_Rx>(0.2));
    const auto circuit = read(from_hex(one_phase_shifter) + write(second));
    EXPECT_EQ(circuit->name(), "second");
    EXPECT_EQ(circuit->m, 3u);
    ASSERT_EQ(circuit->componentCount(), 2u);
    EXPECT_EQ(circuit->components().front().component->m, 1u);
    EXPECT_EQ(circuit->components().back().port, 1u);
}

std::shared_ptr<CompositeCircuit> nested(int depth) {
    auto circuit = std::make_shared<CompositeCircuit>(1, "");
    circuit->add(0, std::make_shared<Circuit::PhaseShifter>(0.5));
    for (int i = 0; i < depth; ++i) {
        auto outer = std::make_shared<CompositeCircuit>(1, "");
        outer->add(0, circuit);
        circuit = outer;
    }
    return circuit;
}

TEST(CircuitSerialization, NestingBeyondTheParseLimitWritesButDoesNotRead) {
    EXPECT_EQ(read(write(*nested(48)))->componentCount(), 1u);
    const std::string deep = write(*nested(49));
    expect_throw_message<std::runtime_error>([&] { read(deep); },
                                             "Could not parse serialized content");
}

TEST(CircuitSerialization, RefusesBytesThatAreNoCircuit) {
    for (const char* hex : {"0A 05 63", "22 03 5A 01", "0A 01 FF", "23", "10 80 80 80 80 80 80"})
        expect_throw_message<std::runtime_error>([&] { read(from_hex(hex)); },
                                                 "Could not parse serialized content");
}

TEST(CircuitSerialization, Files) {
    const TempPath path("circuit.bin");
    CompositeCircuit circuit(1, "c");
    circuit.add(0, std::make_shared<Circuit::PhaseShifter>(0.5));
    CircuitSerializer::toFile(circuit, *path);
    EXPECT_EQ(std::filesystem::file_size(*path), 22u);
    const auto back = CircuitDeserializer::deserialize(*path);
    EXPECT_EQ(back->name(), "c");
    EXPECT_EQ(back->componentCount(), 1u);

    const TempPath dir("folder");
    std::filesystem::create_directory(*dir);
    expect_throw_message<std::runtime_error>([&] { CircuitDeserializer::deserialize(*dir); },
                                             "File not found: " + (*dir).string());
    const std::string nowhere = (*dir / "no" / "such.bin").string();
    expect_throw_message<std::runtime_error>([&] { CircuitSerializer::toFile(circuit, nowhere); },
                                             "Could not serialize circuit to file: " + nowhere);
    if (std::filesystem::exists("/dev/full"))
        expect_throw_message<std::runtime_error>(
            [&] { CircuitSerializer::toFile(circuit, "/dev/full"); },
            "Could not serialize circuit to file: /dev/full");
}

}  // namespace
