#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/play_at_start.h"
#include "app_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

TEST(AskedToPlay, TheThreeFormsInAnyCaseAndPositionOnly) {
  struct Case {
    std::vector<std::string> args;
    bool asked;
  };
  const std::vector<Case> cases = {
      {{"--play"}, true},
      {{"-play"}, true},
      {{"/play"}, true},
      {{"--PLAY"}, true},
      {{"-Play"}, true},
      {{"/pLaY"}, true},
      {{"--verbose", "x", "/PLAY"}, true},
      {{}, false},
      {{"play"}, false},
      {{"--play=1"}, false},
      {{"--player"}, false},
      {{"---play"}, false},
      {{" --play"}, false},
      {{"\\play"}, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "]";
    EXPECT_EQ(AskedToPlay(c.args), c.asked) << shown;
  }
}

class PlayAtStartTest : public AppTest {
 protected:
  PlayAtStartTest() {
    MakeBuilder();
    window.shift_held = [this] { return shift; };
    window.hide = [this] { ++hidden; };
    window.pump = [] { return true; };
    window.show = [this] { ++shown; };
    app.play_pending = true;
  }

  std::filesystem::path PlayFolder() { return app.builder->PlayFolder(); }

  void PutGameInPlace() {
    const std::filesystem::path exe = app.builder->GameExe();
    std::filesystem::create_directories(exe.parent_path());
    std::filesystem::copy_file(TestProgram("played_game"), exe,
                               std::filesystem::copy_options::overwrite_existing);
    app.game_copy.ok = true;
  }

  std::string Played() { return WithoutCr(ReadFile(PlayFolder() / "played.txt")); }

  PlayAtStartWindow window;
  bool shift = false;
  int hidden = 0;
  int shown = 0;
};

TEST_F(PlayAtStartTest, TheFirstReasonToStayWins) {
  // Every reason holds at first; each step takes away the one that was reported.
  app.game_update_ready = true;
  app.launcher_offered = true;
  app.error = "The check failed.";
  EXPECT_EQ(PlayAtStartStayReason(app), "no game chosen");
  app.game_copy.ok = true;
  EXPECT_EQ(PlayAtStartStayReason(app), "the game is not built");
  PutGameInPlace();
  EXPECT_EQ(PlayAtStartStayReason(app), "a new version of the game is ready to install");
  app.game_update_ready = false;
  EXPECT_EQ(PlayAtStartStayReason(app), "a new launcher is offered");
  app.launcher_offered = false;
  EXPECT_EQ(PlayAtStartStayReason(app), "the start's check ended with an error");
  app.error.clear();
  EXPECT_EQ(PlayAtStartStayReason(app), "");
}

TEST_F(PlayAtStartTest, WaitsForTheStartupCheckThenStaysWithItsReason) {
  app.busy = true;  // the start-up check still runs
  app.play_decide_by = std::chrono::steady_clock::now() + std::chrono::hours(1);
  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_TRUE(app.play_pending);
  EXPECT_TRUE(LogLines().empty());

  app.busy = false;
  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_FALSE(app.play_pending);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"play at start: the launcher stays, no game chosen"});
  EXPECT_EQ(hidden, 0);
}

TEST_F(PlayAtStartTest, ACheckThatHasNotAnsweredInTimeCountsAsNoUpdateKnown) {
  PutGameInPlace();
  app.busy = true;  // the start-up check still waits for its answer
  app.play_decide_by = std::chrono::steady_clock::now() + std::chrono::hours(1);
  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_EQ(Played(), "");

  app.play_decide_by = std::chrono::steady_clock::now();
  EXPECT_TRUE(PlayAtStartTurn(app, window));
  EXPECT_FALSE(app.play_pending);
  EXPECT_TRUE(Played().starts_with("first started\n")) << Played();
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "play at start: the update check has not answered in 5 s, no update "
                            "known",
                            "play at start: the game started, the launcher waits for it",
                            "play at start: the game ended (exit code 0), the launcher closes"}));
  app.busy = false;
}

TEST_F(PlayAtStartTest, ShiftKeepsTheLauncherEvenWhileTheCheckRuns) {
  PutGameInPlace();
  app.busy = true;
  shift = true;
  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_FALSE(app.play_pending);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"play at start: Shift held, the launcher stays"});
  EXPECT_EQ(Played(), "");
}

TEST_F(PlayAtStartTest, WaitsForASecondProcessTheGameLeavesBehind) {
  PutGameInPlace();
  WriteFile(PlayFolder() / "second-process", "");
  // Let the second process go only well after the first has exited: a wait that followed the
  // first process alone would have ended before.
  int pumps_after_first = 0;
  window.pump = [&] {
    if (Played().find("first exiting") == std::string::npos) return true;
    if (++pumps_after_first == 4) WriteFile(PlayFolder() / "release-second", "");
    return true;
  };

  EXPECT_TRUE(PlayAtStartTurn(app, window));

  // The two processes run side by side, so only the first and the last lines have an order.
  const std::string played = Played();
  EXPECT_TRUE(played.starts_with("first started\n")) << played;
  EXPECT_NE(played.find("second started\n"), std::string::npos) << played;
  EXPECT_NE(played.find("first exiting\n"), std::string::npos) << played;
  EXPECT_TRUE(played.ends_with("second ended\n")) << played;
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "play at start: the game started, the launcher waits for it",
                            "play at start: the game ended (exit code 7), the launcher closes"}));
}

// The launcher started again while it waits hidden (a double click): the wait ends, the window
// shows, and the game, with the process it handed over to, is followed as one started by Play,
// so the pages show it running; the launcher stays open after it has ended.
TEST_F(PlayAtStartTest, ANewStartLeavesTheWaitAndKeepsTheGameFollowed) {
  PutGameInPlace();
  WriteFile(PlayFolder() / "second-process", "");
  int pumps = 0;
  window.pump = [&] {
    ++pumps;
    // The new start comes once the game has handed over: only what it left then runs.
    return Played().find("first exiting") == std::string::npos ||
           Played().find("second started") == std::string::npos;
  };

  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_FALSE(app.play_pending);
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(shown, 1);
  EXPECT_GE(pumps, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "play at start: the game started, the launcher waits for it",
                            "play at start: the launcher was started again, it shows its window "
                            "and stays"}));
  ASSERT_NE(app.played_game, nullptr);
  EXPECT_TRUE(app.GameRunning());
  EXPECT_EQ(Played().find("second ended"), std::string::npos);

  WriteFile(PlayFolder() / "release-second", "");
  for (int i = 0; i < 3000 && app.GameRunning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(app.GameRunning());
  EXPECT_TRUE(Played().ends_with("second ended\n")) << Played();
  EXPECT_EQ(LogLines().size(), 2u);  // no line says the launcher closes
}

TEST_F(PlayAtStartTest, AGameThatDoesNotStartLeavesTheLauncherOpenWithTheError) {
  WriteFile(app.builder->GameExe(), "not a program");
  app.game_copy.ok = true;
  EXPECT_FALSE(PlayAtStartTurn(app, window));
  EXPECT_FALSE(app.play_pending);
  EXPECT_EQ(hidden, 0);
  EXPECT_TRUE(app.error.starts_with("Could not start the game (error ")) << app.error;
  EXPECT_TRUE(app.error.ends_with(").")) << app.error;
  EXPECT_NE(app.error, "Could not start the game (error 0).");
}

}  // namespace
}  // namespace launcher::test
