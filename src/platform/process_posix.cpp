// The child process runner on POSIX systems. A process group stands in for the Windows job
// object: the child is spawned as the leader of a new group, a watcher kills the group when the
// caller's cancel flag is set, and the end of the run kills what is left of it, so no process of
// the tree outlives the call (unless it left the group on purpose with setsid or setpgid).
#include "platform/process_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/platform_detail.h"

extern char** environ;

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadSize = 4096;
constexpr auto kCancelPoll = std::chrono::milliseconds(100);
constexpr auto kGroupEndWait = std::chrono::seconds(2);

// A file descriptor, closed when the object goes away.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A pipe whose ends are closed on exec, the write end numbered above the standard streams (the
// child gets it through dup2 onto 1 and 2, which must not be a no-op).
bool MakePipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end.reset(fds[0]);
  write_end.reset(fds[1]);
  if (write_end.get() <= STDERR_FILENO) {
    const int moved = fcntl(write_end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    write_end.reset(moved);
  }
  return true;
}

// The launcher's environment, each override replacing every entry of exactly its name; an
// override with an empty value gives NAME= (the variable stays, empty).
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (overrides.count(std::string(text.substr(0, equals))) != 0) continue;
    entries.emplace_back(text);
  }
  for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> NullTerminated(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the child as the leader of a new process group with the pipe as its standard output
// and standard error. Returns 0 or the system's error number.
int Spawn(const std::vector<std::string>& args, const fs::path& cwd,
          const std::map<std::string, std::string>& overrides, int output, pid_t& pid) {
  if (args.empty() || args[0].empty()) return EINVAL;
  std::vector<std::string> argv = args;
  // A relative path names a file from the launcher's current folder, as on Windows, not from
  // `cwd`.
  if (argv[0].find('/') != std::string::npos && argv[0][0] != '/') {
    std::error_code ec;
    const fs::path absolute = fs::absolute(argv[0], ec);
    if (!ec) argv[0] = absolute.string();
  }
  std::vector<std::string> envp_texts = MergedEnvironment(overrides);
  std::vector<char*> argv_pointers = NullTerminated(argv);
  std::vector<char*> envp = NullTerminated(envp_texts);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  // A group of its own; no signal blocked; the signals a launcher may ignore or catch back to
  // their default action.
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal_number : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM,
                                  SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);

  const int result = posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes,
                                  argv_pointers.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

// Kills the child's process group as soon as the cancel flag is set; ends without doing anything
// once the run is done. Checks the flag every 100 ms.
class CancelWatcher {
 public:
  CancelWatcher(pid_t group, const std::atomic<bool>* cancel)
      : group_(group), cancel_(cancel), thread_([this] { Watch(); }) {}
  ~CancelWatcher() { Stop(); }
  CancelWatcher(const CancelWatcher&) = delete;
  CancelWatcher& operator=(const CancelWatcher&) = delete;

  // Sets the done flag and waits for the thread to end.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    woken_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      if (cancel_->load()) {
        kill(-group_, SIGKILL);
        return;
      }
      woken_.wait_for(lock, kCancelPoll, [this] { return done_; });
    }
  }

  const pid_t group_;
  const std::atomic<bool>* const cancel_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

void ReadLines(int fd, const LineSink& sink) {
  LineSplitter splitter(sink);
  char buffer[kReadSize];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    splitter.Feed(buffer, std::size_t(got));
  }
  splitter.Finish();
}

// Waits for the child to end without reaping it, so that its process ID, which is also the
// group's, cannot be given to another process while the group is still killed by that number.
int WaitForExit(pid_t pid) {
  siginfo_t info{};
  for (;;) {
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) == 0) break;
    if (errno != EINTR) return 0;
  }
  if (info.si_code == CLD_EXITED) return info.si_status;
  return 128 + info.si_status;  // ended by a signal, as shells report it
}

// The first bytes of a file of /proc ("" when it cannot be read, as when the process has just
// gone).
std::string ReadSmallFile(const fs::path& path) {
  char buffer[1024];
  const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return "";
  ssize_t got;
  do {
    got = read(fd.get(), buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? std::string(buffer, std::size_t(got)) : "";
}

// The group of each running process (not the ended ones, which wait for their parent to reap
// them) is in /proc/<pid>/stat: after the command name in parentheses come the state, the
// parent's ID and the group's ID.
bool GroupHasRunningProcess(pid_t group) {
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string text = ReadSmallFile(entry.path() / "stat");
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) continue;
    std::istringstream fields(text.substr(name_end + 1));
    char state = 0;
    long parent = 0;
    long process_group = 0;
    if (!(fields >> state >> parent >> process_group)) continue;
    if (process_group == group && state != 'Z' && state != 'X') return true;
  }
  return false;
}

// Waits (a little, at most) until the processes of the group killed a moment ago have ended: a
// killed process takes a moment to go, and none may still run when the run returns. System
// process IDs are handed out in turn, so the number of the group just reaped is not reused.
void WaitForGroupToEnd(pid_t group) {
  if (kill(-group, 0) != 0) return;  // no process left in the group
  const auto give_up = std::chrono::steady_clock::now() + kGroupEndWait;
  while (GroupHasRunningProcess(group) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(-group, SIGKILL);
  }
}

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

int RunProcess(const std::vector<std::string>& args, const fs::path& cwd,
               const std::map<std::string, std::string>& env, const LineSink& sink,
               const std::atomic<bool>* cancel) {
  Fd read_end;
  Fd write_end;
  if (!MakePipe(read_end, write_end)) return -1;

  pid_t pid = -1;
  const int spawn_error = Spawn(args, cwd, env, write_end.get(), pid);
  // Only the child keeps the write end, so reading ends when it and its descendants close it.
  write_end.reset();
  if (spawn_error != 0) {
    const std::string text = "cannot start " + WideToUtf8(JoinCommandLine(args));
    errno = spawn_error;
    if (sink) sink(LastErrorText(text.c_str()));
    return -1;
  }

  int exit_code = 0;
  {
    std::unique_ptr<CancelWatcher> watcher;
    if (cancel != nullptr) {
      try {
        watcher = std::make_unique<CancelWatcher>(pid, cancel);
      } catch (const std::system_error&) {
        // No thread to be had: the child runs unwatched, as a Windows child without a job.
      }
    }
    ReadLines(read_end.get(), sink);
    exit_code = WaitForExit(pid);
    if (watcher) watcher->Stop();
  }
  // Whatever the child left running in its group; the child itself is not reaped yet, so the
  // group's number still names this group.
  kill(-pid, SIGKILL);
  Reap(pid);
  WaitForGroupToEnd(pid);
  read_end.reset();
  if (cancel != nullptr && cancel->load()) return -1;
  return exit_code;
}

}  // namespace launcher
