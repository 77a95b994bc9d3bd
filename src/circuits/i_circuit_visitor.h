#pragma once

namespace Circuit {

class BeamSplitter_Rx;
class BeamSplitter_Ry;
class BeamSplitter_H;
class PhaseShifter;
class CompositeCircuit;
class Unitary;
class Permutation;
class Barrier;

// Double dispatch over the concrete components: a component's accept calls the overload of its
// own class once and does not descend into children.
class ICircuitVisitor {
  public:
    virtual ~ICircuitVisitor() = default;

    virtual void process(const BeamSplitter_Rx& component) = 0;
    virtual void process(const BeamSplitter_Ry& component) = 0;
    virtual void process(const BeamSplitter_H& component) = 0;
    virtual void process(const PhaseShifter& component) = 0;
    virtual void process(const CompositeCircuit& component) = 0;
    virtual void process(const Unitary& component) = 0;
    virtual void process(const Permutation& component) = 0;
    virtual void process(const Barrier& component) = 0;
};

}  // namespace Circuit
