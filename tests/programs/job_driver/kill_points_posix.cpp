// Counts the renames and removals of the whole program by standing in for the C library's own
// functions (the launcher's code and the C++ library call these by name), each forwarded to the
// system call it wraps.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kill_points.h"

namespace job_driver {
namespace {

int Counted(int result) {
  if (result == 0) AfterChange();
  return result;
}

}  // namespace

// The stand-ins below are in place from the start: the link puts them before the C library's.
void CountChanges() {}

void Die() { kill(getpid(), SIGKILL); }

}  // namespace job_driver

extern "C" {

int rename(const char* from, const char* to) {
  return job_driver::Counted(static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to)));
}

int unlink(const char* path) {
  return job_driver::Counted(static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0)));
}

int rmdir(const char* path) {
  return job_driver::Counted(static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR)));
}

int remove(const char* path) {
  const int result = static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
  if (result == 0) return job_driver::Counted(result);
  return job_driver::Counted(static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR)));
}

}  // extern "C"
