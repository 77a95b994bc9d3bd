#pragma once

#include <filesystem>
#include <memory>
#include <ostream>

#include "circuits/composite_circuit.h"

namespace galvorne::schema {
class Circuit;
}

namespace Serial {

// Composite circuits to the Circuit message, its bytes on a stream, or a file.
class CircuitSerializer {
  public:
    static std::unique_ptr<galvorne::schema::Circuit> serialize(
        Circuit::CompositeCircuit const& circuit);
    static void toStream(Circuit::CompositeCircuit const& circuit, std::ostream& stream);
    // std::runtime_error "Could not serialize circuit to file: " and the path when the file
    // cannot be opened or the bytes do not all reach it.
    static void toFile(Circuit::CompositeCircuit const& circuit, std::filesystem::path const& path);
};

}  // namespace Serial
