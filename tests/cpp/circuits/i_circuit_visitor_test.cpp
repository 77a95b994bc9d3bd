#include "circuits/i_circuit_visitor.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/composite_circuit.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"

namespace {

using namespace Circuit;

// Records the overload each call reached and the address of its argument.
class Recorder : public ICircuitVisitor {
  public:
    std::vector<std::string> kinds;
    std::vector<const void*> seen;

    void process(const BeamSplitter_Rx& c) override { record("Rx", &c); }
    void process(const BeamSplitter_Ry& c) override { record("Ry", &c); }
    void process(const BeamSplitter_H& c) override { record("H", &c); }
    void process(const PhaseShifter& c) override { record("PhaseShifter", &c); }
    void process(const CompositeCircuit& c) override { record("CompositeCircuit", &c); }
    void process(const Unitary& c) override { record("Unitary", &c); }
    void process(const Permutation& c) override { record("Permutation", &c); }
    void process(const Barrier& c) override { record("Barrier", &c); }

  private:
    void record(const std::string& kind, const void* c) {
        kinds.push_back(kind);
        seen.push_back(c);
    }
};

struct DispatchCase {
    std::string kind;
    std::function<std::shared_ptr<ACircuit>()> make;
};

class VisitorDispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(VisitorDispatchTest, AcceptCallsTheOverloadOfItsOwnClassOnce) {
    const auto component = GetParam().make();
    Recorder recorder;
    component->accept(recorder);
    EXPECT_EQ(recorder.kinds, std::vector<std::string>{GetParam().kind});
    EXPECT_EQ(recorder.seen, std::vector<const void*>{component.get()});
    // A clone keeps its class.
    Recorder on_clone;
    component->clone()->accept(on_clone);
    EXPECT_EQ(on_clone.kinds, recorder.kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, VisitorDispatchTest,
    ::testing::Values(
        DispatchCase{"Rx", [] { return std::make_shared<BeamSplitter_Rx>(0.1); }},
        DispatchCase{"Ry", [] { return std::make_shared<BeamSplitter_Ry>(0.1); }},
        DispatchCase{"H", [] { return std::make_shared<BeamSplitter_H>(0.1); }},
        DispatchCase{"PhaseShifter", [] { return std::make_shared<PhaseShifter>(0.1); }},
        DispatchCase{"Unitary",
                     [] { return std::make_shared<Unitary>(Matrix::Identity(2, 2), "", false); }},
        DispatchCase{"Permutation",
                     [] {
                         return std::make_shared<Permutation>(std::vector<int>{1, 0});
                     }},
        DispatchCase{"Barrier", [] { return std::make_shared<Barrier>(2, true); }},
        // The composite's own overload only: accept does not descend.
        DispatchCase{"CompositeCircuit",
                     [] {
                         auto c = std::make_shared<CompositeCircuit>(2, "c");
                         c->add(0, std::make_shared<BeamSplitter_Rx>(0.1));
                         c->add(1, std::make_shared<PhaseShifter>(0.1));
                         return c;
                     }}),
    [](auto const& info) { return info.param.kind; });

}  // namespace
