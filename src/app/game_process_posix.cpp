// The game runs as our child, in a session of its own (so a terminal's signals for the launcher
// do not end it). A launcher that waits for it is the subreaper of everything it starts, so a
// process it leaves behind becomes our child when the game exits, and the wait ends only when
// the launcher has no child left. A launcher that goes on beside it follows the game's session,
// whose process group keeps the game's number.
#include "app/game_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

extern char** environ;

namespace launcher {

struct GameProcess::Impl {
  Follow follow = Follow::kToTheEnd;
  pid_t pid = -1;
  bool group_gone = false;  // Running found no process left; the number may be given to another
};

GameProcess::GameProcess(Follow follow) : impl_(std::make_unique<Impl>()) {
  impl_->follow = follow;
}
GameProcess::~GameProcess() = default;

bool GameProcess::Start(const std::filesystem::path& exe, const std::filesystem::path& cwd,
                        uint32_t& error_code) {
  if (impl_->follow == Follow::kToTheEnd) prctl(PR_SET_CHILD_SUBREAPER, 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  // The working folder is changed before the program is looked up: a relative name must not
  // be taken from there.
  std::error_code ignored;
  std::string program = std::filesystem::absolute(exe, ignored).string();
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  const int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    error_code = static_cast<uint32_t>(result);
    errno = result;
    return false;
  }
  impl_->pid = pid;
  return true;
}

bool GameProcess::Running() {
  if (impl_->pid <= 0 || impl_->group_gone) return false;
  // Reaps the game, and any process of its group the launcher has adopted, once ended: a zombie
  // still counts as a member of the group.
  int status = 0;
  while (waitpid(-impl_->pid, &status, WNOHANG) > 0) {
  }
  if (kill(-impl_->pid, 0) == 0 || errno == EPERM) return true;
  impl_->group_gone = true;
  return false;
}

bool GameProcess::Wait(const std::function<bool()>& pump, uint32_t& exit_code) {
  exit_code = 0;
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
      return true;  // ECHILD: no descendant is left
    }
    // Running goes on from here: the game's process group keeps its number once the game has
    // been reaped, and what the game left behind stays this process's to reap.
    if (!pump()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace launcher
