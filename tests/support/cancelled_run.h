// Calls that are stopped part way, for the tests and the benchmarks that measure how soon a stop
// ends them: a child run stopped the moment it says it is ready, and any call stopped a while
// after it is found waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher::test {

struct CancelledRun {
  int code = 0;                         // what Platform::Run returned
  double milliseconds_after_flag = -1;  // from the flag to the run's end; -1 when never set
};

// Runs `args` with a cancel flag that the line sink sets when the line "ready" arrives.
CancelledRun RunAndCancelWhenReady(Platform& platform, const std::vector<std::string>& args);

// Runs `call` on a thread of its own. Once `ready()` holds (looked at every 10 ms while the call
// runs) and `delay` has passed after that, sets `cancel`. Gives the time from the stop to the
// call's end, or nullopt when the call ended without a stop.
std::optional<std::chrono::milliseconds> RunAndStop(const std::function<void()>& call,
                                                    std::atomic<bool>& cancel,
                                                    const std::function<bool()>& ready,
                                                    std::chrono::milliseconds delay);

}  // namespace launcher::test
