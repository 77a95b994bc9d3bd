#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reports the progress of a long computation to a user callable, at most once per `interval`
// milliseconds, mapping the fraction of nested sub-tasks onto the whole; a callable answering
// true, or a pending Ctrl-C, cancels the computation with KeyboardInterruptException.
class ProgressCallback {
  public:
    using Function = std::function<bool(double, const std::string&)>;

    // Closes the sub-task range it opened when it goes out of scope.
    class SubTaskScopeGuard {
      public:
        SubTaskScopeGuard(ProgressCallback* owner, double start, double end);
        ~SubTaskScopeGuard();
        SubTaskScopeGuard(const SubTaskScopeGuard&) = delete;
        SubTaskScopeGuard& operator=(const SubTaskScopeGuard&) = delete;

      private:
        ProgressCallback* owner_;
    };

    explicit ProgressCallback(const Function& callback);

    void operator()(double progress, const std::string& text);

    // A sub-task covering [start, end] of the innermost open range.
    [[nodiscard]] SubTaskScopeGuard sub_task(double start, double end);

    Function callback;
    std::int64_t interval = 1000;
    std::vector<double> starts;
    std::vector<double> ends;
    std::chrono::system_clock::time_point last_call;
};
