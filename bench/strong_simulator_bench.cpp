#include <chrono>
#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>

#include "backends/slap.h"
#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "haar_unitary.h"
#include "simulators/source.h"
#include "simulators/strong_simulator.h"

namespace {

using test_support::haar_unitary;
using Clock = std::chrono::steady_clock;

// Forwards to a back-end and adds up the time spent inside it, so that the simulator's own share
// (preprocessing, products, post-selection) is what remains of the wall time.
class TimedBackend : public Backend::IProbBackend {
  public:
    explicit TimedBackend(std::shared_ptr<Backend::IProbBackend> inner)
        : inner_(std::move(inner)) {}

    std::shared_ptr<IProbBackend> clone() const override {
        return std::make_shared<TimedBackend>(inner_->clone());
    }
    void setUnitary(Matrix unitary) override {
        timed([&] { inner_->setUnitary(std::move(unitary)); });
    }
    void setInputState(FockState const& s) override {
        timed([&] { inner_->setInputState(s); });
    }
    void setMask(std::optional<FsMask> mask) override {
        timed([&] { inner_->setMask(std::move(mask)); });
    }
    std::vector<FockState> getFockSpace() override {
        std::vector<FockState> r;
        timed([&] { r = inner_->getFockSpace(); });
        return r;
    }
    std::vector<std::complex<double>> const& getAmplitudes() override {
        std::vector<std::complex<double>> const* r = nullptr;
        timed([&] { r = &inner_->getAmplitudes(); });
        return *r;
    }
    Backend::AmplitudeConvention amplitudeConvention() const override {
        return inner_->amplitudeConvention();
    }
    std::vector<double> computeProbabilities() override {
        std::vector<double> r;
        timed([&] { r = inner_->computeProbabilities(); });
        return r;
    }
    FockSpaceFunction computeProbabilityDistribution() override {
        FockSpaceFunction r;
        timed([&] { r = inner_->computeProbabilityDistribution(); });
        return r;
    }

    double seconds = 0;

  private:
    template <typename F>
    void timed(F&& f) {
        const auto start = Clock::now();
        f();
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }

    std::shared_ptr<Backend::IProbBackend> inner_;
};

// Losses, additional photons and partial indistinguishability: many distinct groups per input.
const Source source(0.9, 0.02, 0.9, 0.1, true);

// probs_svd with a source: n expected photons on the first modes of m, one run per iteration;
// "outside" is the share of the wall time spent outside the back-end.
template <typename Backend_t>
void BM_StrongSource(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int m = static_cast<int>(state.range(1));
    auto timed = std::make_shared<TimedBackend>(std::make_shared<Backend_t>());
    timed->setUnitary(haar_unitary(m, 42));
    StrongSimulator sim(timed);
    sim.use_vector_cache = state.range(2) != 0;
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    for (int i = 0; i < n; ++i) counts[static_cast<std::size_t>(i)] = 1;
    const FockState expected(counts);
    double total = 0;
    timed->seconds = 0;
    std::size_t outputs = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto result = sim.compute(source, expected);
        total += std::chrono::duration<double>(Clock::now() - start).count();
        outputs = result.size();
        benchmark::DoNotOptimize(outputs);
    }
    state.counters["outside"] = total > 0 ? 1.0 - timed->seconds / total : 0.0;
    state.counters["outputs"] = static_cast<double>(outputs);
}

void arguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "m", "vector_cache"})->Unit(benchmark::kMillisecond);
    for (int n = 3; n <= 6; ++n)
        for (int m : {6, 9, 12})
            for (int cache : {0, 1}) b->Args({n, m, cache});
}

}  // namespace

BENCHMARK(BM_StrongSource<Backend::SLOS>)->Apply(arguments);
BENCHMARK(BM_StrongSource<Backend::SLOS_V2>)->Apply(arguments);
BENCHMARK(BM_StrongSource<Backend::SLOS_V3>)->Apply(arguments);
BENCHMARK(BM_StrongSource<Backend::SLAP>)->Apply(arguments);
