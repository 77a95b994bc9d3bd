#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The calling thread's part in a threaded sampling run: it reports progress while the tasks work.
namespace ProgressPoller {

using Callback = std::function<bool(double, const std::string&)>;

// Calls `callback` with (0.0, "Sampling..."), then, while `active()` holds, once every
// `interval_ms` (a day at most) with (progress(), "Sampling..."). Returns as soon as the
// interrupt flag is set; a callable answering true sets the flag, which stops the tasks, and ends
// the polls. The callable runs on the calling thread only.
void poll(Callback const& callback, std::int64_t interval_ms, std::function<bool()> const& active,
          std::function<double()> const& progress);

}  // namespace ProgressPoller
