// The game runs as our child; we are the subreaper of everything it starts, so a process it
// leaves behind becomes our child when the game exits, and the wait ends only when the launcher
// has no child left.
#include "app/game_process.h"

#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

extern char** environ;

namespace launcher {

struct GameProcess::Impl {
  pid_t pid = -1;
};

GameProcess::GameProcess() : impl_(std::make_unique<Impl>()) {}
GameProcess::~GameProcess() = default;

bool GameProcess::Start(const std::filesystem::path& exe, const std::filesystem::path& cwd,
                        uint32_t& error_code) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::string program = exe.string();
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  const int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    error_code = static_cast<uint32_t>(result);
    return false;
  }
  impl_->pid = pid;
  return true;
}

uint32_t GameProcess::Wait(const std::function<void()>& pump) {
  uint32_t exit_code = 0;
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(-1, &status, WNOHANG);
    if (ended > 0) {
      if (ended == impl_->pid) {
        exit_code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                      : 128u + static_cast<uint32_t>(WTERMSIG(status));
      }
      continue;
    }
    if (ended < 0 && errno != EINTR) {
      break;  // ECHILD: no descendant is left
    }
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return exit_code;
}

}  // namespace launcher
