// The child process runner on POSIX systems. A reaper process per run stands in for the Windows
// job object: forked from the launcher, it becomes a child subreaper, starts the child, and
// relays its exit code. Every descendant that loses its parent (a daemon, a process started in
// a new session) is handed to the reaper, so it finds the whole tree: on cancel, and at the end
// of the run, it kills and reaps every descendant before it ends itself, and the run returns
// only after that. The launcher itself never becomes a subreaper (that would be process-wide).
//
// The reaper is forked from a program with threads, so until it ends it makes only
// async-signal-safe calls: everything it needs (the argument vector, the environment, the spawn
// attributes) is prepared before the fork.
#include "platform/process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/platform_detail.h"

extern char** environ;

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadSize = 4096;
constexpr auto kCancelPoll = std::chrono::milliseconds(100);

// What the launcher tells the reaper over their socket: stop everything now, or the output has
// ended and the run may finish once the child has ended. The socket closing (the launcher gone)
// counts as a cancel.
constexpr char kCancel = 'c';
constexpr char kFinish = 'f';

// What the reaper tells the launcher at its end.
struct ReaperReport {
  int32_t started = 0;  // 1: the child ran, `value` is its exit code; 0: `value` is the errno
  int32_t value = 0;
};

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

// Everything needed to start the child, made before the reaper is forked: the child leads a
// process group of its own, with the pipe as its standard output and standard error, no signal
// blocked, and the signals a launcher may ignore or catch back at their default action.
class ChildStart {
 public:
  ChildStart(const std::vector<std::string>& args, const fs::path& cwd,
             const std::map<std::string, std::string>& overrides, int output)
      : argv_(args), envp_texts_(MergedEnvironment(overrides)) {
    // A relative path names a file from the launcher's current folder, as on Windows, not from
    // `cwd`.
    if (!argv_.empty() && argv_[0].find('/') != std::string::npos && argv_[0][0] != '/') {
      std::error_code ec;
      const fs::path absolute = fs::absolute(argv_[0], ec);
      if (!ec) argv_[0] = absolute.string();
    }
    argv_pointers_ = NullTerminated(argv_);
    envp_ = NullTerminated(envp_texts_);

    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, output, STDERR_FILENO);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions_, cwd.c_str());
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal_number : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM,
                                    SIGUSR1, SIGUSR2}) {
      sigaddset(&defaults, signal_number);
    }
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                               POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes_, 0);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
  }
  ~ChildStart() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  ChildStart(const ChildStart&) = delete;
  ChildStart& operator=(const ChildStart&) = delete;

  // Starts the child (found through PATH when its name has no '/'); 0 or the errno.
  int Start(pid_t& pid) const {
    if (argv_.empty() || argv_[0].empty()) return EINVAL;
    return posix_spawnp(&pid, argv_[0].c_str(), &actions_, &attributes_, argv_pointers_.data(),
                        envp_.data());
  }

 private:
  std::vector<std::string> argv_;
  std::vector<std::string> envp_texts_;
  std::vector<char*> argv_pointers_;
  std::vector<char*> envp_;
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// --- the reaper: async-signal-safe calls only ------------------------------------------------

// Closes every descriptor but the standard streams (the child's input is the launcher's) and
// the two the reaper keeps, so that it holds no pipe of the launcher's or of another run.
void CloseAllBut(int a, int b) {
  const int keep[2] = {std::min(a, b), std::max(a, b)};
  unsigned from = STDERR_FILENO + 1;
  for (const int fd : keep) {
    if (fd < int(from)) continue;
    if (unsigned(fd) > from) close_range(from, unsigned(fd) - 1, 0);
    from = unsigned(fd) + 1;
  }
  close_range(from, ~0U, 0);
}

// The parent's process ID from the text of /proc/<pid>/stat, which gives the command name in
// parentheses, then the state, then the parent; -1 for a process that has ended (state Z or X:
// it waits to be reaped and takes no more killing).
long RunningParentOf(const char* stat, ssize_t size) {
  ssize_t at = size - 1;
  while (at >= 0 && stat[at] != ')') --at;
  if (at < 0 || at + 4 >= size) return -1;
  const char state = stat[at + 2];
  if (state == 'Z' || state == 'X') return -1;
  long parent = 0;
  for (at += 4; at < size && stat[at] >= '0' && stat[at] <= '9'; ++at) {
    parent = parent * 10 + (stat[at] - '0');
  }
  return parent;
}

// Kills every running child of this process: the run's child and whatever of its descendants
// was handed to this subreaper. Their own children come to it in turn as they end.
void KillChildren() {
  const pid_t self = getpid();
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return;
  alignas(8) char entries[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, proc, entries, sizeof entries);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      // struct linux_dirent64: inode (8 bytes), offset (8), record length (2), type (1), name.
      unsigned short length = 0;
      std::memcpy(&length, entries + at + 16, sizeof length);
      const char* name = entries + at + 19;
      at += length;
      long pid = 0;
      const char* digit = name;
      for (; *digit >= '0' && *digit <= '9'; ++digit) pid = pid * 10 + (*digit - '0');
      if (*digit != '\0' || digit == name) continue;
      char path[64] = "/proc/";
      size_t end = 6;
      for (const char* c = name; *c != '\0' && end < sizeof path - 6; ++c) path[end++] = *c;
      std::memcpy(path + end, "/stat", 6);
      const int fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char stat[512];
      const ssize_t size = read(fd, stat, sizeof stat);
      close(fd);
      if (size > 0 && RunningParentOf(stat, size) == self) kill(pid_t(pid), SIGKILL);
    }
  }
  close(proc);
}

// The exit code as shells report it: 128 + the signal for a child ended by a signal.
int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 0;
}

// Reaps every child that has ended; notes the run's child among them.
void ReapEnded(pid_t child, bool& exited, int& code) {
  int status = 0;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    if (pid == child) {
      exited = true;
      code = ExitCode(status);
    }
  }
}

// Kills and reaps every descendant, until this process has no child left.
void EndTheTree(pid_t child, bool& exited, int& code) {
  for (;;) {
    KillChildren();
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid < 0) return;  // ECHILD: nothing is left
    if (pid == child) {
      exited = true;
      code = ExitCode(status);
    }
    if (pid == 0) {
      const timespec pause{0, 1000000};  // killed processes take a moment to end
      nanosleep(&pause, nullptr);
    }
  }
}

void Report(int socket, int32_t started, int32_t value) {
  const ReaperReport report{started, value};
  send(socket, &report, sizeof report, MSG_NOSIGNAL);
}

// The reaper's whole life. It waits for the run's child to end and for the launcher to finish
// reading (or to cancel), then ends the tree and reports the exit code.
[[noreturn]] void RunReaper(const ChildStart& start, int output, int socket) {
  CloseAllBut(output, socket);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // The launcher's handlers are not the reaper's. It ends when the launcher's end of the socket
  // closes (the launcher gone), so the tree does not outlive the launcher even when a terminal's
  // signal ends the launcher. A launcher that ignores SIGCHLD would leave it no zombies to reap.
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2,
                                  SIGALRM}) {
    sigaction(signal_number, &action, nullptr);
  }
  action.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &action, nullptr);
  sigset_t children;
  sigemptyset(&children);
  sigaddset(&children, SIGCHLD);
  sigprocmask(SIG_BLOCK, &children, nullptr);
  const int ended = signalfd(-1, &children, SFD_CLOEXEC | SFD_NONBLOCK);

  pid_t child = -1;
  const int start_error = start.Start(child);
  close(output);  // from here only the tree holds the output
  if (start_error != 0) {
    Report(socket, 0, start_error);
    _exit(0);
  }

  bool exited = false;
  bool finishing = false;
  bool cancelled = false;
  int code = 0;
  for (;;) {
    ReapEnded(child, exited, code);
    if (cancelled) KillChildren();
    if (exited && (finishing || cancelled)) break;
    pollfd waits[2] = {{ended, POLLIN, 0}, {socket, POLLIN, 0}};
    const nfds_t count = cancelled ? 1 : 2;  // after the finish a cancel may still come
    if (ended < 0) {
      // No signalfd: look again every few milliseconds.
      waits[0].fd = -1;
      poll(waits, count, 5);
    } else {
      poll(waits, count, -1);
    }
    if (ended >= 0 && (waits[0].revents & POLLIN) != 0) {
      signalfd_siginfo info;
      while (read(ended, &info, sizeof info) > 0) {
      }
    }
    if (count == 2 && waits[1].revents != 0) {
      char message = kCancel;
      const ssize_t got = recv(socket, &message, 1, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || message == kCancel) cancelled = true;
      if (message == kFinish) finishing = true;
    }
  }
  EndTheTree(child, exited, code);
  Report(socket, 1, code);
  _exit(0);
}

// --- the launcher's side ---------------------------------------------------------------------

// Tells the reaper to stop the tree as soon as the cancel flag is set; ends without doing
// anything once the run is done. Checks the flag every 100 ms.
class CancelWatcher {
 public:
  CancelWatcher(int socket, const std::atomic<bool>* cancel)
      : socket_(socket), cancel_(cancel), thread_([this] { Watch(); }) {}
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
        send(socket_, &kCancel, 1, MSG_NOSIGNAL);
        return;
      }
      woken_.wait_for(lock, kCancelPoll, [this] { return done_; });
    }
  }

  const int socket_;
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

// Waits for the reaper's report, which comes once the whole tree has ended.
ReaperReport ReadReport(int socket) {
  ReaperReport report;
  char* bytes = reinterpret_cast<char*>(&report);
  size_t have = 0;
  while (have < sizeof report) {
    const ssize_t got = recv(socket, bytes + have, sizeof report - have, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return ReaperReport{1, 0};  // the reaper died: no exit code to be had
    have += size_t(got);
  }
  return report;
}

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string CannotStartLine(const std::vector<std::string>& args, int code) {
  const std::string text = "cannot start " + WideToUtf8(JoinCommandLine(args));
  errno = code;
  return LastErrorText(text.c_str());
}

}  // namespace

int RunProcess(const std::vector<std::string>& args, const fs::path& cwd,
               const std::map<std::string, std::string>& env, const LineSink& sink,
               const std::atomic<bool>* cancel) {
  Fd read_end;
  Fd write_end;
  if (!MakePipe(read_end, write_end)) return -1;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return -1;
  Fd launcher_socket(sockets[0]);
  Fd reaper_socket(sockets[1]);

  const ChildStart start(args, cwd, env, write_end.get());
  const pid_t reaper = fork();
  if (reaper == 0) RunReaper(start, write_end.get(), reaper_socket.get());
  const int fork_error = errno;
  // Only the tree keeps the write end, so reading ends when it has closed it everywhere.
  write_end.reset();
  reaper_socket.reset();
  if (reaper < 0) {
    if (sink) sink(CannotStartLine(args, fork_error));
    return -1;
  }

  ReaperReport report;
  {
    std::unique_ptr<CancelWatcher> watcher;
    if (cancel != nullptr) {
      try {
        watcher = std::make_unique<CancelWatcher>(launcher_socket.get(), cancel);
      } catch (const std::system_error&) {
        // No thread to be had: the child runs unwatched, as a Windows child without a job.
      }
    }
    ReadLines(read_end.get(), sink);
    send(launcher_socket.get(), &kFinish, 1, MSG_NOSIGNAL);
    report = ReadReport(launcher_socket.get());
    if (watcher) watcher->Stop();
  }
  Reap(reaper);
  if (report.started == 0) {
    if (sink) sink(CannotStartLine(args, report.value));
    return -1;
  }
  if (cancel != nullptr && cancel->load()) return -1;
  return report.value;
}

}  // namespace launcher
