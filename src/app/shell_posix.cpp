// The desktop's own programs stand in for the Windows shell: zenity for the pickers, xdg-open
// for links and folders, statvfs for the free space.
#include "app/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace launcher {

namespace fs = std::filesystem;

namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs a program found through PATH and returns its standard output, or false when it could not
// start or did not exit with 0. Its standard error is dropped.
bool RunForOutput(std::vector<std::string> args, std::string& output) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = Argv(args);
  pid_t pid = -1;
  const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (started != 0) {
    close(pipe_fds[0]);
    return false;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got > 0) {
      output.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts a program found through PATH on its own: a middle child starts it in a new session and
// exits at once, so it is never our child and never left a zombie.
void StartDetached(std::vector<std::string> args) {
  std::vector<char*> argv = Argv(args);
  const pid_t middle = fork();
  if (middle == 0) {
    setsid();
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    _exit(0);
  }
  if (middle > 0) {
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace

fs::path PickPath(NativeWindow, bool folder_mode, const char* title) {
  std::vector<std::string> args = {"zenity", "--file-selection"};
  if (folder_mode) {
    args.push_back("--directory");
    args.push_back(std::string("--title=") +
                   (title != nullptr ? title : "Choose the folder with the game's files"));
  } else {
    args.push_back("--title=Choose the game's disc image");
    args.push_back("--file-filter=Xbox disc image or default.xbe | *.iso default.xbe");
    args.push_back("--file-filter=All files | *");
  }
  std::string output;
  if (!RunForOutput(std::move(args), output)) {
    return {};
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  return fs::path(output);
}

void OpenUrl(const std::string& url) { StartDetached({"xdg-open", url}); }

void OpenPath(const fs::path& path) { StartDetached({"xdg-open", path.string()}); }

uint64_t FreeSpaceOnDrive(const fs::path& path) {
  const fs::path existing = NearestExisting(path);
  struct statvfs info = {};
  if (existing.empty() || statvfs(existing.c_str(), &info) != 0) {
    return 0;
  }
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace launcher
