#include "support/cancelled_run.h"

#include <atomic>
#include <chrono>
#include <thread>

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

std::optional<std::chrono::milliseconds> RunAndStop(const std::function<void()>& call,
                                                    std::atomic<bool>& cancel,
                                                    const std::function<bool()>& ready,
                                                    std::chrono::milliseconds delay) {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    call();
    done = true;
  });
  std::optional<Clock::time_point> ready_at;
  std::optional<Clock::time_point> stopped_at;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ready_at && ready()) ready_at = Clock::now();
    if (ready_at && !stopped_at && Clock::now() - *ready_at >= delay) {
      stopped_at = Clock::now();
      cancel = true;
    }
  }
  worker.join();
  if (!stopped_at) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *stopped_at);
}

}  // namespace launcher::test
