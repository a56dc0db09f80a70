// Counts the renames and removals of the whole program by standing in for the C library's own
// functions (the launcher's code and the C++ library call these by name), each forwarded to the
// system call it wraps.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "kill_points.h"

namespace job_driver {
namespace {

std::atomic<long> lines_seen{0};
std::atomic<long> changes_seen{0};
long kill_at_line = 0;
long kill_at_change = 0;

long FromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::atol(value);
}

void Die() { kill(getpid(), SIGKILL); }

int AfterChange(int result) {
  if (result == 0 && ++changes_seen == kill_at_change) Die();
  return result;
}

}  // namespace

void ArmKillPoints() {
  kill_at_line = FromEnv("JOB_DRIVER_KILL_AT_LINE");
  kill_at_change = FromEnv("JOB_DRIVER_KILL_AT_CHANGE");
}

void AfterLogLine() {
  if (++lines_seen == kill_at_line) Die();
}

long ChangesSoFar() { return changes_seen; }

}  // namespace job_driver

extern "C" {

int rename(const char* from, const char* to) {
  return job_driver::AfterChange(
      static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to)));
}

int unlink(const char* path) {
  return job_driver::AfterChange(static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0)));
}

int rmdir(const char* path) {
  return job_driver::AfterChange(
      static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR)));
}

int remove(const char* path) {
  const int result = static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
  if (result == 0) return job_driver::AfterChange(result);
  return job_driver::AfterChange(
      static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR)));
}

}  // extern "C"
