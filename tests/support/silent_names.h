// Name lookups that never end, for the tests of how a stop and a time limit end them. A program
// runs again in network and mount namespaces of its own, where /etc/resolv.conf names a name
// server on 127.0.0.1 that takes every query and never answers, /etc/nsswitch.conf sends host
// names to it (after /etc/hosts), and the loopback interface is up, so that a server of the
// tests on 127.0.0.1 still answers. A lookup there waits for the system resolver's longest time
// (five tries of 30 s). It needs Linux (or Wine on Linux, whose programs use the system's
// resolver), root, `unshare`, `ip` and python3; where it cannot run it says why.
//
// Usage in a test:
//   TEST(Lookup, AStopEndsIt) {
//     LAUNCHER_RUN_WITH_SILENT_NAMES();  // outside: runs this test inside, reports its result
//     const int asked = test::NameQueries();
//     ... http.Get("http://" + std::string(test::kSilentHost) + "/x", ...) ...
//     ... ready once test::NameQueries() > asked ...
//   }
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace launcher::test {

// A name that only the silent name server is asked about.
inline constexpr const char* kSilentHost = "updates.halvorn.test";

// What a program run inside gave.
struct SilentNamesRun {
  std::string unavailable;  // why it could not run; "" when it ran
  int code = -1;            // its exit code (124 when it was ended after a minute)
  std::string output;       // its standard output and error
};

// Runs `args` (args[0] a program of this system, by its path) inside, as described above, with
// the proxy variables removed, and waits for its end.
SilentNamesRun RunWithSilentNames(const std::vector<std::string>& args);

// True in a program that RunWithSilentNames started.
bool InsideSilentNames();

// Inside: how many queries the silent name server has taken so far.
int NameQueries();

// Outside: runs the running test alone in this test program inside, and gives false, with the
// inner run's failure reported as this test's or `unavailable` set when it cannot run. Inside:
// true, and the test goes on with its body.
bool RunThisTestWithSilentNames(std::string& unavailable);

// Platform parts: the path as the system's shell sees it ("" when there is none, as on Windows
// outside Wine), and a start of `args`, a program of that system by its path, which sets `ended`
// when it has waited for the program's end (Wine cannot wait for one of the system's programs);
// false with `error` when it could not start.
std::string ShellPathOf(const std::string& path);
bool StartShellCommand(const std::vector<std::string>& args, bool& ended, std::string& error);

}  // namespace launcher::test

// Outside: runs the test inside and returns, skipping with the reason where that cannot be done.
#define LAUNCHER_RUN_WITH_SILENT_NAMES()                                           \
  do {                                                                             \
    std::string silent_names_unavailable;                                          \
    if (!::launcher::test::RunThisTestWithSilentNames(silent_names_unavailable)) { \
      if (!silent_names_unavailable.empty()) GTEST_SKIP() << silent_names_unavailable; \
      return;                                                                      \
    }                                                                              \
  } while (false)
