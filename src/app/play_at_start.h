// Playing at start: the launcher was asked (by "--play" or the saved choice) to start the game
// as soon as the start-up check has ended (or has not answered in time), to wait for it, and to
// close when it has ended.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"

namespace launcher {

// Some argument (the program's own name excluded) is "--play", "-play" or "/play" in any case.
bool AskedToPlay(const std::vector<std::string>& args);

// How long play at start waits for the start-up check; an answer not there by then counts as no
// update known, and the check finishes in the background.
inline constexpr std::chrono::seconds kPlayAtStartWait{5};

// Why the launcher stays instead of playing at start, or "" when the game may start. Call it
// once the start-up check has ended or its time is up.
std::string PlayAtStartStayReason(App& app);

// The window's part in playing at start.
struct PlayAtStartWindow {
  std::function<bool()> shift_held;  // Shift is held now
  std::function<void()> hide;        // hides the window once the game runs
  // Handles the window's pending messages without waiting; false once the launcher has been
  // started again (the player asks for its window).
  std::function<bool()> pump;
  std::function<void()> show;  // shows the hidden window again and brings it forward
};

// One frame's turn while App::play_pending is set; it waits for the start-up check until
// App::play_decide_by. True when the game was started and has ended with every process it
// started: the launcher is then to close. A new start of the launcher while the game runs ends
// the wait: the window shows again, the game stays followed as App::played_game (the pages show
// it running), and the launcher stays open when it ends.
bool PlayAtStartTurn(App& app, const PlayAtStartWindow& window);

}  // namespace launcher
