#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/self_update.h"
#include "app/startup.h"
#include "app_fixture.h"
#include "catalogue/release.h"
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
    ASSERT_TRUE(StartLauncher(app, self, args, shift, error)) << error;
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
    ASSERT_TRUE(StartLauncher(fresh, self, {}, false, error)) << error;
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
    ASSERT_TRUE(StartLauncher(fresh, self, {}, false, error)) << error;
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
    ASSERT_TRUE(StartLauncher(fresh, self, c.args, c.shift, error)) << error;
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
