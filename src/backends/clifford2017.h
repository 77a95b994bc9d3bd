#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/i_clifford_runner.h"
#include "fockspace/sample_containers.h"
#include "runtime/config.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// Boson sampling of a unitary on one perfect input by the algorithm of Clifford & Clifford
// (2017). One runner per thread holds the prepared matrix; a batch is shared out one sample at a
// time by an atomic counter, so faster threads take more of it. Runners and their matrix are kept
// between calls and remade only when the unitary, the input or the configuration changes.
class Clifford2017 {
  public:
    using AdvanceCallback = std::function<bool(double, std::string const&)>;
    using Runners = std::vector<std::unique_ptr<ICliffordRunner>>;

    Clifford2017() = default;
    // Copies the unitary, the input and the callback; the copy prepares its own runners.
    Clifford2017(Clifford2017 const& other);
    Clifford2017& operator=(Clifford2017 other) noexcept;
    ~Clifford2017();

    // std::invalid_argument for a NaN or an infinity; std::runtime_error "Matrix is not unitary"
    // for a matrix that is not square and unitary within config.unitary_check_precision.
    void setUnitary(Matrix unitary);
    Matrix const& get_unitary() const { return unitary_; }
    void setInputState(FockState input);
    // Called on the calling thread of `samples` every `interval_ms` (1000 when not positive);
    // returning true stops the batch like Ctrl-C does.
    void setAdvanceCallback(AdvanceCallback callback, std::int64_t interval_ms);

    // Whether the precision or the thread count of the global config moved since the last look;
    // takes a new snapshot of it either way.
    bool configChanged();
    // U_S; std::runtime_error "Matrix/input state sizes mismatch" unless the unitary is square
    // with the input's mode count.
    Matrix _prepareUS() const;
    // max_thread_count(cfg) runners (at least one), in single precision when cfg says so.
    static Runners createRunners(Config const& cfg);
    void prepare();

    // What `samples` makes of a task that Ctrl-C or a cancelling callback stops inside a sample.
    enum class OnInterrupt { rethrow, keep_finished };

    FockState sample();
    // `count` states, grouped by task; fewer when interrupted before the end, or the
    // KeyboardInterruptException of a task caught inside a sample unless `keep_finished` asks
    // for the states finished by then.
    BSSamples samples(std::uint32_t count, OnInterrupt on_interrupt = OnInterrupt::rethrow);

  private:
    bool prepared_ = false;
    Matrix unitary_;
    FockState input_;
    Runners runners_;
    Config config_;
    std::int64_t callback_interval_ = 0;
    AdvanceCallback advance_callback_;
};

}  // namespace Backend
