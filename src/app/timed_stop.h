// A stop flag for work that the player may stop and that must end by itself after a while: it is
// set once the watched flag is set or the time is up. While it is set it holds the watched flag
// set as well, since an operation of the Builder may clear that flag when it begins.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace launcher {

class TimedStop {
 public:
  // Watches `watched` (the Builder's cancel flag) from now on until `limit` has passed.
  TimedStop(std::atomic<bool>& watched, std::chrono::milliseconds limit);
  // Ends the watch. When only the time set the watched flag, clears it again, so that it does
  // not stop whatever runs next.
  ~TimedStop();
  TimedStop(const TimedStop&) = delete;
  TimedStop& operator=(const TimedStop&) = delete;

  // The flag to hand to the work.
  const std::atomic<bool>* Flag() const { return &stop_; }
  bool Stopped() const { return stop_; }
  // The time, not the watched flag, set it.
  bool TimedOut() const { return timed_out_; }

 private:
  void Watch();

  std::atomic<bool>& watched_;
  const std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> timed_out_{false};
  std::mutex mutex_;
  std::condition_variable ended_;
  bool ending_ = false;  // under mutex_
  std::thread watcher_;  // last: starts once the members above are made
};

}  // namespace launcher
