#include "support/cancelled_run.h"

#include <atomic>
#include <chrono>

namespace launcher::test {

CancelledRun RunAndCancelWhenReady(Platform& platform, const std::vector<std::string>& args) {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> cancel{false};
  Clock::time_point flagged;
  CancelledRun run;
  run.code = platform.Run(
      args, {}, {},
      [&](const std::string& line) {
        if (line == "ready" && !cancel) {
          flagged = Clock::now();
          cancel = true;
        }
      },
      &cancel);
  if (cancel) {
    run.milliseconds_after_flag =
        std::chrono::duration<double, std::milli>(Clock::now() - flagged).count();
  }
  return run;
}

}  // namespace launcher::test
