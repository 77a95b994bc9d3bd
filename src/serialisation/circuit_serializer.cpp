#include "serialisation/circuit_serializer.h"

#include <cstdint>

#include "runtime/interrupt_signal_handler.h"
#include "serialisation/component_serializer.h"
#include "serialisation/message_io.h"
#include "serialisation/proto/circuit.pb.h"

namespace Serial {

std::unique_ptr<galvorne::schema::Circuit> CircuitSerializer::serialize(
    Circuit::CompositeCircuit const& circuit) {
    auto message = std::make_unique<galvorne::schema::Circuit>();
    message->set_name(circuit.name());
    message->set_n_mode(static_cast<std::int32_t>(circuit.m));
    // A decomposed interferometer of hundreds of modes holds hundreds of thousands of components.
    InterruptSignalHandler::Poll poll(256);
    for (const auto& [port, component] : circuit.components()) {
        poll();
        auto* entry = message->add_components();
        entry->set_starting_mode(static_cast<std::int32_t>(port));
        entry->set_n_mode(static_cast<std::int32_t>(component->m));
        ComponentSerializer visitor(*entry);
        component->accept(visitor);
    }
    return message;
}

void CircuitSerializer::toStream(Circuit::CompositeCircuit const& circuit, std::ostream& stream) {
    serialize(circuit)->SerializePartialToOstream(&stream);
}

void CircuitSerializer::toFile(Circuit::CompositeCircuit const& circuit,
                               std::filesystem::path const& path) {
    details::write_file(path, [&](std::ostream& stream) { toStream(circuit, stream); });
}

}  // namespace Serial
