#include "support/silent_names.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/scratch.h"
#include "support/system_state.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

// Tells the program started inside where the name server writes: its folder, as this system
// names it.
constexpr const char* kInsideVariable = "LAUNCHER_SILENT_NAMES";

// The system resolver's longest wait: 30 s a try, five tries.
constexpr const char* kResolvConf = "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n";
constexpr const char* kNsswitchConf = "hosts: files dns\n";

// Takes every query on 127.0.0.1:53 and answers none; one line in QUERIES per query.
constexpr const char* kServer = R"(import socket, sys
queries, listening = sys.argv[1], sys.argv[2]
server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
server.bind(("127.0.0.1", 53))
open(listening, "w").close()
while True:
    server.recvfrom(4096)
    with open(queries, "a") as out:
        out.write("query\n")
)";

// silent_names.sh DIR NATIVE_DIR PROGRAM ARGS...: outside it checks that the namespaces can be
// made and runs itself again in new ones; inside it sets them up, starts the name server and runs
// the program with its output in DIR/output and its exit code in DIR/code. What stops it writes
// the reason to DIR/unavailable.
constexpr const char* kScript = R"sh(set -u
dir=$1 native=$2
shift 2
unavailable() {
  echo "$*" >"$dir/unavailable.tmp"
  mv "$dir/unavailable.tmp" "$dir/unavailable"
  exit 0
}
first_line() { head -n1 "$1" 2>/dev/null; }
if [[ "${SILENT_NAMES_STAGE:-}" != inside ]]; then
  command -v unshare >/dev/null || unavailable "unshare is not installed"
  if ! unshare --net --mount true 2>"$dir/unshare.err"; then
    unavailable "network and mount namespaces cannot be made here, which needs root" \
      "($(first_line "$dir/unshare.err"))"
  fi
  SILENT_NAMES_STAGE=inside exec unshare --net --mount bash "$0" "$dir" "$native" "$@"
fi
unset SILENT_NAMES_STAGE
if ! { mount --bind "$dir/resolv.conf" /etc/resolv.conf &&
       { [[ ! -e /etc/nsswitch.conf ]] || mount --bind "$dir/nsswitch.conf" /etc/nsswitch.conf; } &&
       ip link set lo up; } 2>"$dir/setup.err"; then
  unavailable "the namespaces cannot be set up ($(first_line "$dir/setup.err"))"
fi
python3 "$dir/server.py" "$dir/queries" "$dir/listening" 2>"$dir/server.err" &
server=$!
for _ in $(seq 1 100); do
  [[ -e "$dir/listening" ]] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
[[ -e "$dir/listening" ]] ||
  unavailable "the silent name server did not start ($(first_line "$dir/server.err"))"
unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY
LAUNCHER_SILENT_NAMES=$native timeout 60 "$@" >"$dir/output" 2>&1
echo $? >"$dir/code.tmp"
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
mv "$dir/code.tmp" "$dir/code"
)sh";

// How long the outside waits for the inside's end, which is ended after a minute.
// The exit code of a program that `timeout` ended.
constexpr int kTimedOut = 124;
constexpr auto kRunLimit = std::chrono::seconds(90);

// The reason gtest printed for a skipped test: the line after "Skipped".
std::string SkipReason(const std::string& output) {
  size_t start = output.find("Skipped");
  if (start == std::string::npos) return "skipped inside the namespaces";
  start = output.find_first_not_of("\r\n", start + 7);
  const size_t end = std::min(output.find_first_of("\r\n", start), output.size());
  return "inside the namespaces: " + output.substr(std::min(start, end), end - std::min(start, end));
}

// The command that starts this test program again, as the system's shell runs it.
std::vector<std::string> SelfCommand(const std::string& self) {
  if (RunningUnderWine()) return {"wine", self};
  return {self};
}

}  // namespace

SilentNamesRun RunWithSilentNames(const std::vector<std::string>& args) {
  SilentNamesRun run;
  const ScratchDir scratch;
  const std::string dir = ShellPathOf(PathToUtf8(scratch.path()));
  if (dir.empty()) {
    run.unavailable = "a name server that never answers needs Linux namespaces; this is Windows";
    return run;
  }
  WriteFile(scratch / "resolv.conf", kResolvConf);
  WriteFile(scratch / "nsswitch.conf", kNsswitchConf);
  WriteFile(scratch / "server.py", kServer);
  WriteFile(scratch / "silent_names.sh", kScript);
  std::vector<std::string> command = {"/bin/bash", dir + "/silent_names.sh", dir,
                                      PathToUtf8(scratch.path())};
  command.insert(command.end(), args.begin(), args.end());
  bool ended = false;
  if (!StartShellCommand(command, ended, run.unavailable)) return run;

  // Where the shell's end cannot be waited for, its files tell.
  const auto give_up = std::chrono::steady_clock::now() + kRunLimit;
  while (!fs::exists(scratch / "code") && !fs::exists(scratch / "unavailable")) {
    if (ended || std::chrono::steady_clock::now() > give_up) {
      run.unavailable = "the run in the namespaces ended without a result";
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (fs::exists(scratch / "unavailable")) {
    run.unavailable = ReadFile(scratch / "unavailable");
    while (!run.unavailable.empty() && run.unavailable.back() == '\n') run.unavailable.pop_back();
    return run;
  }
  run.code = std::stoi(ReadFile(scratch / "code"));
  run.output = ReadFile(scratch / "output");
  return run;
}

bool InsideSilentNames() { return GetEnvValue(kInsideVariable).has_value(); }

int NameQueries() {
  const std::optional<std::string> dir = GetEnvValue(kInsideVariable);
  if (!dir) return 0;
  const std::string lines = ReadFile(PathFromUtf8(*dir) / "queries");
  int count = 0;
  for (char c : lines) count += c == '\n';
  return count;
}

bool RunThisTestWithSilentNames(std::string& unavailable) {
  if (InsideSilentNames()) return true;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string self = ShellPathOf(PathToUtf8(SelfPath()));
  std::vector<std::string> command = SelfCommand(self);
  command.push_back(std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name());
  const SilentNamesRun run = RunWithSilentNames(command);
  if (!run.unavailable.empty()) {
    unavailable = run.unavailable;
  } else if (run.code == kTimedOut) {
    ADD_FAILURE() << "inside the namespaces the test did not end within a minute:\n"
                  << run.output;
  } else if (run.code != 0) {
    ADD_FAILURE() << "inside the namespaces the test failed (exit code " << run.code << "):\n"
                  << run.output;
  } else if (run.output.find("[  SKIPPED ] 1 test") != std::string::npos) {
    unavailable = SkipReason(run.output);
  } else if (run.output.find("[  PASSED  ] 1 test") == std::string::npos) {
    ADD_FAILURE() << "inside the namespaces the test did not run:\n" << run.output;
  }
  return false;
}

}  // namespace launcher::test
