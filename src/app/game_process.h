// The game the launcher starts, watched with everything it starts: a job object on Windows; on
// Linux a session of its own and, for a launcher that waits for it, a child subreaper. A game
// that hands over to a second process and exits still counts as running.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace launcher {

class GameProcess {
 public:
  // How the launcher follows the game. kToTheEnd: the launcher only waits for it (Wait), and on
  // Linux adopts every process it leaves behind, for the rest of the launcher's run. kBeside:
  // the launcher goes on with its work and asks Running; on Linux it follows the game's session
  // (the processes it starts that keep it) and adopts nothing, so that the launcher's other
  // children are left alone.
  enum class Follow { kToTheEnd, kBeside };

  explicit GameProcess(Follow follow = Follow::kToTheEnd);
  ~GameProcess();
  GameProcess(const GameProcess&) = delete;
  GameProcess& operator=(const GameProcess&) = delete;

  // Starts `exe` without arguments in `cwd`. False with the system's error code, which is also
  // left as the thread's last system error (for LastErrorText).
  bool Start(const std::filesystem::path& exe, const std::filesystem::path& cwd,
             uint32_t& error_code);

  // Whether the game or a process it started still runs; never waits. False before a Start
  // that succeeded.
  bool Running();

  // Waits until the game and every process it started have ended, handing the window's messages
  // to `pump` (which must not wait) as they arrive and at least every 500 ms. True once they
  // have, with the game's exit code in `exit_code`. False as soon as `pump` returns false (the
  // caller is to go on without waiting): the game stays followed, and Running tells when it and
  // what it left running have ended.
  bool Wait(const std::function<bool()>& pump, uint32_t& exit_code);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace launcher
