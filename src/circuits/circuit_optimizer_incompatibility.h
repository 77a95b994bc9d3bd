#pragma once

#include <exception>
#include <string>
#include <utility>

namespace Circuit {

// Refusal of a template, target or call that the circuit optimiser cannot handle; Python sees it
// as RuntimeError.
class CircuitOptimizerIncompatibility : public std::exception {
  public:
    explicit CircuitOptimizerIncompatibility(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

}  // namespace Circuit
