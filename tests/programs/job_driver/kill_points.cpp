// The kill points every system shares: the counts, the variables and the timer. Each system's
// file counts the changes and ends the driver its own way.
#include "kill_points.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace job_driver {
namespace {

std::atomic<long> lines_seen{0};
std::atomic<long> statuses_seen{0};
std::atomic<long> changes_seen{0};
long kill_at_line = 0;
long kill_at_status = 0;
long kill_at_change = 0;

long FromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::atol(value);
}

}  // namespace

void ArmKillPoints() {
  kill_at_line = FromEnv("JOB_DRIVER_KILL_AT_LINE");
  kill_at_status = FromEnv("JOB_DRIVER_KILL_AT_STATUS");
  kill_at_change = FromEnv("JOB_DRIVER_KILL_AT_CHANGE");
  CountChanges();
  const long after_us = FromEnv("JOB_DRIVER_KILL_AFTER_US");
  if (after_us > 0) {
    std::thread([after_us] {
      std::this_thread::sleep_for(std::chrono::microseconds(after_us));
      Die();
    }).detach();
  }
}

void AfterLogLine() {
  if (++lines_seen == kill_at_line) Die();
}

void AfterStatus() {
  if (++statuses_seen == kill_at_status) Die();
}

void AfterChange() {
  if (++changes_seen == kill_at_change) Die();
}

long ChangesSoFar() { return changes_seen; }

}  // namespace job_driver
