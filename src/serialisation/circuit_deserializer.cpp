#include "serialisation/circuit_deserializer.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "serialisation/matrix_serialization.h"
#include "serialisation/message_io.h"
#include "serialisation/parameter_serializer.h"
#include "serialisation/proto/circuit.pb.h"

namespace Serial {

namespace {

namespace schema = galvorne::schema;

// Mode counts and positions are unsigned in the circuit model: a negative one would wrap.
unsigned non_negative(std::int32_t value, const char* what) {
    if (value < 0) throw std::runtime_error(fmt::format("Negative {} {}", what, value));
    return static_cast<unsigned>(value);
}

std::shared_ptr<Circuit::ACircuit> deserializeBeamSplitter(schema::BeamSplitter const& message) {
    if (!message.has_theta()) throw std::runtime_error("BS needs theta parameter");
    // Every parameter is read before the convention is looked at.
    auto theta = ParameterSerializer::deserialize(message.theta());
    auto phi_tl = ParameterSerializer::deserialize(message.phi_tl());
    auto phi_bl = ParameterSerializer::deserialize(message.phi_bl());
    auto phi_tr = ParameterSerializer::deserialize(message.phi_tr());
    auto phi_br = ParameterSerializer::deserialize(message.phi_br());
    switch (message.convention()) {
        case schema::BeamSplitter::Rx:
            return std::make_shared<Circuit::BeamSplitter_Rx>(theta, phi_tl, phi_bl, phi_tr,
                                                              phi_br);
        case schema::BeamSplitter::Ry:
            return std::make_shared<Circuit::BeamSplitter_Ry>(theta, phi_tl, phi_bl, phi_tr,
                                                              phi_br);
        case schema::BeamSplitter::H:
            return std::make_shared<Circuit::BeamSplitter_H>(theta, phi_tl, phi_bl, phi_tr, phi_br);
        default:
            throw std::runtime_error("Unknown beam splitter convention");
    }
}

std::shared_ptr<Circuit::ACircuit> deserializeComponent(schema::Component const& message) {
    switch (message.type_case()) {
        case schema::Component::kCircuit:
            return CircuitDeserializer::deserialize(message.circuit());
        case schema::Component::kPhaseShifter:
            return std::make_shared<Circuit::PhaseShifter>(
                ParameterSerializer::deserialize(message.phase_shifter().phi()));
        case schema::Component::kBeamSplitter:
            return deserializeBeamSplitter(message.beam_splitter());
        case schema::Component::kPermutation: {
            const auto& targets = message.permutation().permutations();
            return std::make_shared<Circuit::Permutation>(
                std::vector<int>(targets.begin(), targets.end()));
        }
        case schema::Component::kUnitary: {
            const auto& unitary = message.unitary();
            return std::make_shared<Circuit::Unitary>(
                MatrixSerialization::deserialize(unitary.mat()), unitary.name(),
                unitary.use_polarization());
        }
        case schema::Component::kBarrier:
            return std::make_shared<Circuit::Barrier>(
                non_negative(message.n_mode(), "barrier width"), message.barrier().visible());
        default:
            throw std::runtime_error("Component type not supported by serialization");
    }
}

}  // namespace

std::shared_ptr<Circuit::CompositeCircuit> CircuitDeserializer::deserialize(
    schema::Circuit const& message) {
    auto circuit = std::make_shared<Circuit::CompositeCircuit>(
        non_negative(message.n_mode(), "mode count"), message.name());
    for (const auto& entry : message.components()) {
        auto component = deserializeComponent(entry);
        circuit->add(non_negative(entry.starting_mode(), "starting mode"), std::move(component));
    }
    return circuit;
}

std::shared_ptr<Circuit::CompositeCircuit> CircuitDeserializer::deserialize(std::istream& stream) {
    schema::Circuit message;
    details::parse_whole(stream, message);
    return deserialize(message);
}

std::shared_ptr<Circuit::CompositeCircuit> CircuitDeserializer::deserialize(
    std::filesystem::path const& path) {
    std::ifstream file = details::open_for_reading(path);
    return deserialize(file);
}

}  // namespace Serial
