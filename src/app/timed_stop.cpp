#include "app/timed_stop.h"

namespace launcher {
namespace {

// How often the watcher looks at the watched flag: a stop reaches the work within about this.
constexpr auto kLookInterval = std::chrono::milliseconds(50);

}  // namespace

TimedStop::TimedStop(std::atomic<bool>& watched, std::chrono::milliseconds limit)
    : watched_(watched),
      deadline_(std::chrono::steady_clock::now() + limit),
      watcher_([this] { Watch(); }) {}

TimedStop::~TimedStop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  ended_.notify_all();
  watcher_.join();
  if (timed_out_) watched_ = false;
}

void TimedStop::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ended_.wait_for(lock, kLookInterval, [this] { return ending_; })) {
    if (!stop_) {
      if (watched_) {
        stop_ = true;
      } else if (std::chrono::steady_clock::now() >= deadline_) {
        timed_out_ = true;
        stop_ = true;
      }
    }
    if (stop_) watched_ = true;
  }
}

}  // namespace launcher
