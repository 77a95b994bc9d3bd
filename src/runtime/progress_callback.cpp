#include "runtime/progress_callback.h"

#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"

ProgressCallback::SubTaskScopeGuard::SubTaskScopeGuard(ProgressCallback* owner, double start,
                                                       double end)
    : owner_(owner) {
    owner_->starts.push_back(start);
    owner_->ends.push_back(end);
}

ProgressCallback::SubTaskScopeGuard::~SubTaskScopeGuard() {
    owner_->starts.pop_back();
    owner_->ends.pop_back();
}

ProgressCallback::ProgressCallback(const Function& callback_)
    : callback(callback_), last_call(std::chrono::system_clock::now()) {}

ProgressCallback::SubTaskScopeGuard ProgressCallback::sub_task(double start, double end) {
    return SubTaskScopeGuard(this, start, end);
}

void ProgressCallback::operator()(double progress, const std::string& text) {
    if (InterruptSignalHandler::is_interrupted())
        throw KeyboardInterruptException("Cancel requested.");
    if (!callback) return;
    if (std::chrono::system_clock::now() - last_call < std::chrono::nanoseconds(interval * 1000000))
        return;
    last_call = std::chrono::system_clock::now();
    for (std::size_t i = starts.size(); i-- > 0;)
        progress = progress * ends[i] + (1 - progress) * starts[i];
    if (callback(progress, text)) throw KeyboardInterruptException("Cancel requested.");
}
