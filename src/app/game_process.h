// The game started at launch, watched with everything it starts: a job object on Windows, a
// child subreaper elsewhere, so that a game that hands over to a second process and exits is
// still waited for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace launcher {

class GameProcess {
 public:
  GameProcess();
  ~GameProcess();
  GameProcess(const GameProcess&) = delete;
  GameProcess& operator=(const GameProcess&) = delete;

  // Starts `exe` without arguments in `cwd`. False with the system's error code.
  bool Start(const std::filesystem::path& exe, const std::filesystem::path& cwd,
             uint32_t& error_code);

  // Waits until the game and every process it started have ended, handing the window's messages
  // to `pump` (which must not wait) as they arrive and at least every 500 ms. Returns the game's
  // exit code.
  uint32_t Wait(const std::function<void()>& pump);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace launcher
