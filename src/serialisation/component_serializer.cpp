#include "serialisation/component_serializer.h"

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/composite_circuit.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "serialisation/circuit_serializer.h"
#include "serialisation/matrix_serialization.h"
#include "serialisation/parameter_serializer.h"
#include "serialisation/proto/circuit.pb.h"

namespace Serial {

namespace {

using Location = Circuit::ABeamSplitter::PhaseLocation;
using Convention = galvorne::schema::BeamSplitter;

// The five parameters, all set even when empty; the caller sets the convention.
galvorne::schema::BeamSplitter* serializeBeamSplitter(Circuit::ABeamSplitter const& bs) {
    auto* message = new galvorne::schema::BeamSplitter();
    message->set_allocated_theta(ParameterSerializer::serialize(*bs.theta()));
    message->set_allocated_phi_tl(ParameterSerializer::serialize(*bs.phi(Location::TopLeft)));
    message->set_allocated_phi_bl(ParameterSerializer::serialize(*bs.phi(Location::BottomLeft)));
    message->set_allocated_phi_tr(ParameterSerializer::serialize(*bs.phi(Location::TopRight)));
    message->set_allocated_phi_br(ParameterSerializer::serialize(*bs.phi(Location::BottomRight)));
    return message;
}

}  // namespace

void ComponentSerializer::process(Circuit::BeamSplitter_Rx const& component) {
    auto* message = serializeBeamSplitter(component);
    message->set_convention(Convention::Rx);
    message_.set_allocated_beam_splitter(message);
}

void ComponentSerializer::process(Circuit::BeamSplitter_Ry const& component) {
    auto* message = serializeBeamSplitter(component);
    message->set_convention(Convention::Ry);
    message_.set_allocated_beam_splitter(message);
}

void ComponentSerializer::process(Circuit::BeamSplitter_H const& component) {
    auto* message = serializeBeamSplitter(component);
    message->set_convention(Convention::H);
    message_.set_allocated_beam_splitter(message);
}

void ComponentSerializer::process(Circuit::PhaseShifter const& component) {
    auto* message = new galvorne::schema::PhaseShifter();
    message->set_allocated_phi(ParameterSerializer::serialize(*component.phi()));
    message_.set_allocated_phase_shifter(message);
}

void ComponentSerializer::process(Circuit::CompositeCircuit const& component) {
    message_.set_allocated_circuit(CircuitSerializer::serialize(component).release());
}

void ComponentSerializer::process(Circuit::Unitary const& component) {
    auto* message = new galvorne::schema::Unitary();
    message->set_allocated_mat(MatrixSerialization::serialize(component.unitary()).release());
    message->set_name(component.getName());
    message->set_use_polarization(component.supportsPolarization());
    message_.set_allocated_unitary(message);
}

void ComponentSerializer::process(Circuit::Permutation const& component) {
    auto* message = new galvorne::schema::Permutation();
    for (const int target : component.getPermutationVector()) message->add_permutations(target);
    message_.set_allocated_permutation(message);
}

void ComponentSerializer::process(Circuit::Barrier const& component) {
    auto* message = new galvorne::schema::Barrier();
    message->set_visible(component.isVisible());
    message_.set_allocated_barrier(message);
}

}  // namespace Serial
