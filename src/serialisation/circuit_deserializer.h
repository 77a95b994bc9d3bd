#pragma once

#include <filesystem>
#include <istream>
#include <memory>

#include "circuits/composite_circuit.h"

namespace galvorne::schema {
class Circuit;
}

namespace Serial {

// Circuit messages, their bytes on a stream, or a file, to composite circuits. Refusals are
// std::runtime_error; the components' own checks (std::invalid_argument) and the fit check of
// CompositeCircuit::add (std::out_of_range) pass through.
class CircuitDeserializer {
  public:
    static std::shared_ptr<Circuit::CompositeCircuit> deserialize(
        galvorne::schema::Circuit const& message);
    // The whole rest of the stream is one message.
    static std::shared_ptr<Circuit::CompositeCircuit> deserialize(std::istream& stream);
    static std::shared_ptr<Circuit::CompositeCircuit> deserialize(
        std::filesystem::path const& path);
};

}  // namespace Serial
