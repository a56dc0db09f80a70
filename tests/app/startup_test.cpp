#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/game_process.h"
#include "app/self_update.h"
#include "app/startup.h"
#include "app_fixture.h"
#include "catalogue/release.h"
#include "platform/folder_lock.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

// The launcher as the program starts it, from a folder of its own. The game's repository is
// not on the hosting service the test names, so the start-up check asks nobody.
class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    saved_hosting = Hosting();
    Hosting().site = "http://127.0.0.1:9/";
    self = scratch / ("HalvornLauncher" + app.platform->ExeSuffix());
    root = scratch / "Halvorn";
  }
  ~StartupTest() override {
    StopLauncher(app);
    Hosting() = saved_hosting;
  }

  void Start(const std::vector<std::string>& args = {}, bool shift = false) {
    std::string error;
    ASSERT_EQ(StartLauncher(app, self, args, shift, error), StartOutcome::kReady) << error;
    if (app.worker.joinable()) app.worker.join();  // the start-up check
  }

  std::vector<std::string> PlayLines() {
    std::vector<std::string> lines;
    std::lock_guard<std::mutex> lock(app.state_mutex);
    for (const std::string& line : app.log_lines) {
      if (line.starts_with("play at start")) lines.push_back(line);
    }
    return lines;
  }

  ScratchDir scratch;
  App app;
  fs::path self;
  fs::path root;
  HostingService saved_hosting;
};

TEST_F(StartupTest, RootLiesBesideTheProgramAndALeftoverOldProgramGoes) {
  WriteFile(OldLauncherPath(self), "the launcher before the update");
  Start();
  EXPECT_EQ(app.root, root);
  EXPECT_EQ(app.game.title, "Zemrik: Halvorn");
  EXPECT_EQ(app.game.launcher_version, "v1.0");
  EXPECT_FALSE(fs::exists(OldLauncherPath(self)));
  EXPECT_FALSE(app.play_pending);
  EXPECT_TRUE(PlayLines().empty());
  // The start-up check ran as the first job, known as such (Play stays usable while it runs),
  // and showed nothing.
  EXPECT_EQ(app.job_kind, JobKind::kStartupCheck);
  EXPECT_FALSE(app.busy);
  EXPECT_EQ(app.error, "");
  EXPECT_EQ(app.done, "");
}

// A copy of the disc image ended by a kill or a power cut left its temporary in play/assets;
// the start removes it and nothing else.
TEST_F(StartupTest, WhatAnEndedCopyOfTheDiscLeftGoesAtTheStart) {
  WriteFile(root / "play" / "assets" / "Halvorn.iso.tmp", "a copy ended halfway");
  WriteFile(root / "play" / "assets" / "Halvorn.iso", "a whole copy");
  Start();
  EXPECT_EQ(EntriesUnder(root / "play" / "assets"), std::set<std::string>{"Halvorn.iso"});
}

TEST_F(StartupTest, BadSettingsAndMissingFilesStillOpenTheLauncher) {
  struct Case {
    std::string name;
    std::string settings;  // launcher.json; "" writes none
  };
  const std::vector<Case> cases = {
      {"not JSON", "{\"game\": "},
      {"keys of other types", R"({"game": 5, "play_at_start": "true", "music": [1], "built": {}})"},
      {"a game copy that has gone", R"({"game": "/no/such/folder/halvorn.iso"})"},
      {"a JSON array", "[1, 2]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    App fresh;
    WriteFile(root / "launcher.json", c.settings);
    std::string error;
    ASSERT_EQ(StartLauncher(fresh, self, {}, false, error), StartOutcome::kReady) << error;
    StopLauncher(fresh);
    EXPECT_FALSE(fresh.game_copy.ok);
    EXPECT_FALSE(fresh.play_at_start);
    EXPECT_FALSE(fresh.play_pending);
    EXPECT_TRUE(fresh.music_folder.empty());
  }
}

TEST_F(StartupTest, AGameCopyThatHasGoneIsReportedInPlayersWords) {
  for (const fs::path& gone : {scratch / "gone" / "halvorn.iso", scratch / "gone" / "a folder"}) {
    SCOPED_TRACE(PathToUtf8(gone));
    App fresh;
    WriteFile(root / "launcher.json",
              nlohmann::json{{"game", PathToUtf8(gone)}}.dump());
    std::string error;
    ASSERT_EQ(StartLauncher(fresh, self, {}, false, error), StartOutcome::kReady) << error;
    StopLauncher(fresh);
    EXPECT_FALSE(fresh.game_copy.ok);
    EXPECT_EQ(fresh.game_copy.message,
              "Your copy of the game is no longer at " + PathToUtf8(gone) + ": choose it again.");
  }
}

TEST_F(StartupTest, AnAgreementThatCannotBeReadStillCountsAsGiven) {
  fs::create_directories(root / "agreed.txt");  // there, but no file to read
  Start();
  EXPECT_TRUE(app.agreed);
}

TEST_F(StartupTest, PlayAtStartIsAskedByArgumentOrSavedChoiceAndShiftKeepsTheLauncher) {
  struct Case {
    std::vector<std::string> args;
    bool saved;
    bool shift;
    bool want_pending;
    std::vector<std::string> want_lines;
  };
  const std::vector<Case> cases = {
      {{"-PLAY"}, false, false, true, {"play at start: --play"}},
      {{"/Play"}, true, false, true, {"play at start: --play"}},
      {{}, true, false, true, {"play at start: the saved choice"}},
      {{"--play"}, false, true, false,
       {"play at start: --play, Shift held: the launcher stays"}},
      {{}, true, true, false, {"play at start: the saved choice, Shift held: the launcher stays"}},
      {{"play", "--play=yes"}, false, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + (c.saved ? " saved" : "") +
                 (c.shift ? " shift" : ""));
    WriteFile(root / "launcher.json", c.saved ? R"({"play_at_start": true})" : "{}");
    App fresh;
    std::string error;
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(StartLauncher(fresh, self, c.args, c.shift, error), StartOutcome::kReady)
        << error;
    const auto after = std::chrono::steady_clock::now();
    StopLauncher(fresh);
    EXPECT_EQ(fresh.play_pending.load(), c.want_pending);
    // It decides a few seconds after the start, whether the start-up check has answered or not.
    EXPECT_GE(fresh.play_decide_by, before + kPlayAtStartWait);
    EXPECT_LE(fresh.play_decide_by, after + kPlayAtStartWait);
    EXPECT_EQ(fresh.play_at_start, c.saved);
    std::vector<std::string> lines;
    for (const std::string& line : fresh.log_lines) {
      if (line.starts_with("play at start")) lines.push_back(line);
    }
    EXPECT_EQ(lines, c.want_lines);
  }
}

// Another launcher on the folder (a double click twice, a shortcut's --play while one runs): the
// second leaves every file as it was (the old program, the settings, the first one's lock file)
// but for one log line, makes no Builder and starts no job.
TEST_F(StartupTest, ASecondLauncherOnTheFolderChangesNothingButOneLogLine) {
  Start();
  WriteFile(OldLauncherPath(self), "the launcher before the update");
  WriteFile(root / "launcher.json", R"({"play_at_start": true})");
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{}, kAnotherLauncherLine},
      {{"--play"}, std::string(kAnotherLauncherLine) + kWithoutPlaying},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::map<std::string, std::string> before = FilesUnder(scratch.path());
    App second;
    std::string error;
    std::vector<fs::path> asked;  // the folders whose holder the window code was asked about
    EXPECT_EQ(StartLauncher(second, self, c.args, false, error,
                            [&](const fs::path& folder) {
                              asked.push_back(folder);
                              return true;
                            }),
              StartOutcome::kAnotherRuns);
    EXPECT_EQ(asked, std::vector<fs::path>{root});
    EXPECT_EQ(second.builder, nullptr);
    EXPECT_FALSE(second.worker.joinable());
    EXPECT_FALSE(second.folder_lock.held());
    std::map<std::string, std::string> after = FilesUnder(scratch.path());

    const std::string log_before = before["Halvorn/launcher.log"];
    const std::string log_after = after["Halvorn/launcher.log"];
    ASSERT_TRUE(log_after.starts_with(log_before));
    const std::string added = WithoutCr(log_after.substr(log_before.size()));
    ASSERT_EQ(added.size(), 9 + c.line.size() + 1) << added;  // "hh:mm:ss " and a line end
    EXPECT_EQ(added.substr(8), " " + c.line + "\n");
    EXPECT_EQ(added[2], ':');
    EXPECT_EQ(added[5], ':');
    before.erase("Halvorn/launcher.log");
    after.erase("Halvorn/launcher.log");
    EXPECT_EQ(after, before);
  }
}

// Something that is no launcher holds the folder's lock (a backup program that has the file
// open, a plain `flock`, an ID from another PID namespace): start-up tries again for a while and
// then opens unlocked, saying why, rather than end without a window. A holder that lets go
// meanwhile leaves the lock to this launcher; a launcher found meanwhile ends this one as ever.
TEST_F(StartupTest, AHolderThatIsNoLauncherIsTriedAgainThenTheLauncherOpensUnlocked) {
  struct Case {
    std::string name;
    int asked_until;  // the holder check's call at which the case's event happens; 0 never
    bool lets_go;     // the event: the holder lets go (else a launcher is found)
    StartOutcome outcome;
    bool held;
  };
  const std::vector<Case> cases = {
      {"the holder keeps it", 0, false, StartOutcome::kReady, false},
      {"the holder lets go", 3, true, StartOutcome::kReady, true},
      {"a launcher turns up", 3, false, StartOutcome::kAnotherRuns, false},
  };
  const std::string unlocked = "the folder is not locked, a second launcher on it is not kept out: ";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FolderLock holder;
    std::string error;
    ASSERT_EQ(holder.Take(root, error), FolderLock::Outcome::kHeld) << error;
    int asked = 0;
    const auto launcher_holds = [&](const fs::path&) {
      if (++asked != c.asked_until) return false;
      if (!c.lets_go) return true;
      holder.Release();
      return false;
    };
    App fresh;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(StartLauncher(fresh, self, {}, false, error, launcher_holds), c.outcome) << error;
    const auto took = std::chrono::steady_clock::now() - started;
    StopLauncher(fresh);
    EXPECT_EQ(fresh.folder_lock.held(), c.held);
    if (c.asked_until != 0) {
      EXPECT_EQ(asked, c.asked_until);
      continue;
    }
    EXPECT_GE(took, kFolderLockRetry);
    EXPECT_GE(asked, 2);
    std::vector<std::string> said;
    for (const std::string& line : fresh.log_lines) {
      if (line.starts_with(unlocked)) said.push_back(line.substr(unlocked.size()));
    }
    EXPECT_EQ(said, std::vector<std::string>{
                        "Could not lock " + PathToUtf8(root / kFolderLockName) +
                        ": another program has held it for 2000 ms, and it is no launcher of "
                        "this folder."});
  }
}

TEST_F(StartupTest, ALauncherThatHasGoneLeavesTheFolderToTheNextOne) {
  std::string error;
  {
    App first;
    ASSERT_EQ(StartLauncher(first, self, {}, false, error), StartOutcome::kReady) << error;
    EXPECT_TRUE(first.folder_lock.held());
    StopLauncher(first);
  }
  App next;
  EXPECT_EQ(StartLauncher(next, self, {}, false, error), StartOutcome::kReady) << error;
  EXPECT_TRUE(next.folder_lock.held());
  StopLauncher(next);
}

TEST_F(StartupTest, AFolderThatCannotBeLockedStillOpensTheLauncherAndSaysSo) {
  WriteFile(root, "a file where the folder belongs");
  Start();
  EXPECT_FALSE(app.folder_lock.held());
  std::vector<std::string> said;
  for (const std::string& line : app.log_lines) {
    if (line.starts_with("the folder is not locked")) said.push_back(line);
  }
  ASSERT_EQ(said.size(), 1u);
  EXPECT_TRUE(said[0].starts_with(
      "the folder is not locked, a second launcher on it is not kept out: Could not open "))
      << said[0];
}

// The new launcher of a self-update takes the folder as it starts, so the old one lets go of it
// for the hand-over, and keeps it when the new one does not start.
TEST_F(StartupTest, AHandOverLeavesTheFolderToTheNewLauncherOrKeepsItWhenItDoesNotStart) {
  Start();
  const PlayAtStartWindow window;  // not asked to play: LeaveAfterFrame never uses it
  FolderLock other;
  std::string error;

  app.restart_pending = true;  // with no program at `self`
  EXPECT_FALSE(LeaveAfterFrame(app, self, window));
  EXPECT_TRUE(app.folder_lock.held());
  EXPECT_EQ(other.Take(root, error), FolderLock::Outcome::kHeldElsewhere);

  fs::copy_file(TestProgram("played_game"), self);
  app.restart_pending = true;
  EXPECT_TRUE(LeaveAfterFrame(app, self, window)) << app.error;
  EXPECT_FALSE(app.folder_lock.held());
  EXPECT_EQ(other.Take(root, error), FolderLock::Outcome::kHeld) << error;
  const fs::path played = scratch / "played.txt";  // the started program is done with the folder
  for (int i = 0; i < 3000 && ReadFile(played).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(WithoutCr(ReadFile(played)), "first started\n");
}

// A new launcher in place waits for the game that Play started, with the process it handed over
// to: the new one would not know of it. Once the game has ended the hand-over goes ahead.
TEST_F(StartupTest, AHandOverWaitsForTheGameThatPlayStarted) {
  Start();
  const PlayAtStartWindow window;
  fs::copy_file(TestProgram("played_game"), self);  // the new launcher
  const fs::path game_folder = scratch / "play";
  fs::create_directories(game_folder);
  WriteFile(game_folder / "second-process", "");
  app.played_game = std::make_unique<GameProcess>(GameProcess::Follow::kBeside);
  uint32_t code = 0;
  ASSERT_TRUE(app.played_game->Start(self, game_folder, code)) << code;
  const fs::path game_played = game_folder / "played.txt";
  for (int i = 0; i < 3000 && ReadFile(game_played).find("first exiting") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(ReadFile(game_played).find("first exiting") != std::string::npos)
      << ReadFile(game_played);

  const fs::path launcher_played = scratch / "played.txt";  // written by a started new launcher
  app.restart_pending = true;
  for (int frame = 0; frame < 5; ++frame) {
    EXPECT_FALSE(LeaveAfterFrame(app, self, window));
  }
  EXPECT_TRUE(app.restart_pending);
  EXPECT_TRUE(app.folder_lock.held());
  EXPECT_FALSE(fs::exists(launcher_played));

  WriteFile(game_folder / "release-second", "");
  bool left = false;
  for (int i = 0; i < 3000 && !left; ++i) {
    left = LeaveAfterFrame(app, self, window);
    if (!left) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(left) << app.error;
  EXPECT_FALSE(app.played_game->Running());
  EXPECT_TRUE(WithoutCr(ReadFile(game_played)).ends_with("second ended\n"))
      << ReadFile(game_played);
  EXPECT_FALSE(app.folder_lock.held());
  for (int i = 0; i < 3000 && ReadFile(launcher_played).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(WithoutCr(ReadFile(launcher_played)), "first started\n");
  std::lock_guard<std::mutex> lock(app.state_mutex);
  EXPECT_EQ(app.log_lines.back(), "self-update: starting the new launcher");
}

// The game that Play starts may run on after the launcher has ended: it must not keep the folder.
TEST(FolderLockAndTheGame, TheGameTheLauncherStartsDoesNotKeepTheFolder) {
  ScratchDir scratch;
  const fs::path root = scratch / "Halvorn";
  FolderLock lock;
  std::string error;
  ASSERT_EQ(lock.Take(root, error), FolderLock::Outcome::kHeld) << error;
  GameProcess game(GameProcess::Follow::kBeside);
  uint32_t code = 0;
  ASSERT_TRUE(game.Start(TestProgram("child"), scratch.path(), code)) << code;
  for (int i = 0; i < 2000 && !fs::exists(scratch / "started.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fs::exists(scratch / "started.txt"));
  lock.Release();
  FolderLock next;
  EXPECT_EQ(next.Take(root, error), FolderLock::Outcome::kHeld) << error;
  WriteFile(scratch / "stop", "");
  for (int i = 0; i < 2000 && game.Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(game.Running());
}

// How soon StopLauncher returns for a job that stops is measured by bench/stop_launcher_bench;
// here a job that stops has seconds to do so, as a loaded machine may need.
TEST(StopLauncher, WaitsAShortWhileForTheJobAndNoLongerForOneThatDoesNotStop) {
  struct Case {
    std::string name;
    bool job_sees_the_stop;
    std::chrono::milliseconds wait;  // what StopLauncher is given
  };
  const std::vector<Case> cases = {{"a job that stops", true, std::chrono::seconds(20)},
                                   {"a job that waits on", false, std::chrono::milliseconds(500)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    App app;
    app.builder = std::make_unique<Builder>(app.game, scratch / "Halvorn", app.http.get(),
                                            app.platform.get());
    Gate release;  // holds the job that does not see the stop until the test lets it go
    std::atomic<bool> started{false};
    app.StartJob(
        [&](std::string&) {
          started = true;
          if (!c.job_sees_the_stop) release.Wait();
          while (c.job_sees_the_stop && !app.builder->cancel) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          return true;
        },
        "");
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    bool left = false;
    const auto before = std::chrono::steady_clock::now();
    const bool ended = StopLauncher(app, [&] { left = true; }, c.wait);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_TRUE(left);
    EXPECT_TRUE(app.builder->cancel);
    EXPECT_EQ(ended, c.job_sees_the_stop);
    EXPECT_EQ(app.worker.joinable(), !c.job_sees_the_stop);
    if (c.job_sees_the_stop) {
      EXPECT_LT(took, c.wait) << "it waited for the whole wait, not for the job";
    } else {
      EXPECT_GE(took, c.wait);
      EXPECT_LT(took, c.wait + std::chrono::seconds(5));
    }
    release.Open();
    if (app.worker.joinable()) app.worker.join();
  }
}

}  // namespace
}  // namespace launcher::test
