#pragma once

#include <exception>
#include <string>

// Thrown when a computation sees the interrupt flag ("Process interrupted by user.") or a
// progress callback cancels ("Cancel requested."); Python receives it as KeyboardInterrupt.
class KeyboardInterruptException : public std::exception {
  public:
    explicit KeyboardInterruptException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};
