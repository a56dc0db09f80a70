#include "app/play_at_start.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "app/game_process.h"
#include "platform/ascii.h"

namespace launcher {

bool AskedToPlay(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    const std::string lower = AsciiLower(arg);
    if (lower == "--play" || lower == "-play" || lower == "/play") {
      return true;
    }
  }
  return false;
}

std::string PlayAtStartStayReason(App& app) {
  if (!app.game_copy.ok) {
    return "no game chosen";
  }
  if (!app.builder->IsGameInPlace()) {
    return "the game is not built";
  }
  if (app.builder->BuiltOldWay()) {
    return "the game is to be updated to the prebuilt way";
  }
  if (app.game_update_ready) {
    return "a new version of the game is ready to install";
  }
  if (app.launcher_offered) {
    return "a new launcher is offered";
  }
  std::lock_guard<std::mutex> lock(app.state_mutex);
  if (!app.error.empty()) {
    return "the start's check ended with an error";
  }
  return "";
}

bool PlayAtStartTurn(App& app, const PlayAtStartWindow& window) {
  if (window.shift_held()) {
    app.play_pending = false;
    app.builder->Log("play at start: Shift held, the launcher stays");
    return false;
  }
  if (app.busy) {
    if (std::chrono::steady_clock::now() < app.play_decide_by) {
      return false;  // the start-up check may still answer
    }
    app.builder->Log("play at start: the update check has not answered in " +
                     std::to_string(kPlayAtStartWait.count()) + " s, no update known");
  }
  app.play_pending = false;
  const std::string reason = PlayAtStartStayReason(app);
  if (!reason.empty()) {
    app.builder->Log("play at start: the launcher stays, " + reason);
    return false;
  }
  auto game = std::make_unique<GameProcess>();
  uint32_t error_code = 0;
  if (!game->Start(app.builder->GameExe(), app.builder->PlayFolder(), error_code)) {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.error = "Could not start the game (error " + std::to_string(error_code) + ").";
    return false;
  }
  app.builder->Log("play at start: the game started, the launcher waits for it");
  window.hide();
  uint32_t exit_code = 0;
  if (!game->Wait(window.pump, exit_code)) {
    // The player started the launcher again: they want it, so it stays, and follows the game
    // as it follows one started by Play.
    app.builder->Log("play at start: the launcher was started again, it shows its window and "
                     "stays");
    app.played_game = std::move(game);
    window.show();
    return false;
  }
  app.builder->Log("play at start: the game ended (exit code " + std::to_string(exit_code) +
                   "), the launcher closes");
  return true;
}

}  // namespace launcher
