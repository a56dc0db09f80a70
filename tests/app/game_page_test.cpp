// The Game page drawn from App states: what it shows, what it enables, and the jobs its buttons
// start.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/pages.h"
#include "page_fixture.h"
#include "platform/platform.h"
#include "platform/sha.h"
#include "support/disc_image_writer.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

// A state of the launcher as the Game page sees it.
struct State {
  bool copy = false;       // the player's copy is accepted
  bool in_place = false;   // the game is in the play folder
  bool old_way = false;    // ...built from source, without the package's library
  bool update_ready = false;
  bool busy = false;       // a job runs
  bool music_job = false;  // ...and it is the music import
  JobKind job = JobKind::kOther;  // ...of this kind
  int step = 0;            // the package install's step
  std::string built = "";  // the version launcher.json records as built
  std::string version = "v1.0";  // the launcher's own
};

struct Expect {
  std::vector<std::string> shown;
  std::vector<std::string> hidden;
  std::vector<std::string> enabled;
  std::vector<std::string> disabled;
};

struct Case {
  const char* name;
  State state;
  Expect expect;
};

class GamePageTest : public PageTest {
 protected:
  void Apply(bool package_mode, const State& s, const std::string& root = "Halvorn") {
    GameDescription game = PageGame(package_mode, true);
    game.launcher_version = s.version;
    UseGame(game, root);
    if (s.copy) AcceptCopy();
    if (s.in_place || s.old_way) PutGameInPlace(s.old_way);
    if (!s.built.empty()) RecordBuilt(s.built);
    app().game_update_ready = s.update_ready;
    app().busy = s.busy;
    app().music_job = s.music_job;
    app().job_kind = s.job;
    app().builder->package_step = s.step;
  }

  // Draws each case's state in package mode or not, and checks what it expects.
  template <size_t N>
  void CheckAll(bool package_mode, const Case (&cases)[N]) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Apply(package_mode, c.state);
      Draw(2);
      Check(c.expect);
    }
  }

  void Check(const Expect& e) {
    for (const std::string& text : e.shown) EXPECT_TRUE(Shows(text)) << "missing: " << text;
    for (const std::string& text : e.hidden) EXPECT_FALSE(Shows(text)) << "shown: " << text;
    for (const std::string& text : e.enabled) EXPECT_TRUE(Enabled(text)) << "disabled: " << text;
    for (const std::string& text : e.disabled) EXPECT_FALSE(Enabled(text)) << "enabled: " << text;
  }
};

TEST_F(GamePageTest, PackageModeStates) {
  const std::string kept = "). Your saves, settings and music are kept.";
  const Case cases[] = {
      {"nothing chosen",
       {},
       {{"Getting the game ready", "not chosen yet", "Free on this drive: *"},
        {"Ready to play", "Update"},
        {"Choose a disc image...", "Choose a folder..."},
        {"Get the game ready", "Play"}}},
      {"copy chosen",
       {.copy = true},
       {{"Getting the game ready", "PAL 1.0"},
        {"not chosen yet"},
        {"Get the game ready"},
        {"Play"}}},
      {"ready to play",
       {.copy = true, .in_place = true, .built = "v1.0"},
       {{"Ready to play"},
        {"Getting the game ready", "Get the game ready", "Update", "Free on this drive: *"},
        {"Play"},
        {}}},
      {"update ready",
       {.copy = true, .in_place = true, .update_ready = true, .built = "v0.9"},
       {{"Getting the game ready", "Version v1.0 is ready to install (yours: v0.9" + kept},
        {"Ready to play"},
        {"Update", "Play"},
        {}}},
      {"update ready, no version recorded",
       {.copy = true, .in_place = true, .update_ready = true},
       {{"Version v1.0 is ready to install (yours: an earlier one" + kept}, {}, {"Update"}, {}}},
      {"update ready, dev launcher",
       {.copy = true, .in_place = true, .update_ready = true, .version = "dev"},
       {{"A new version is available."}, {}, {"Update"}, {}}},
      {"built the old way",
       {.copy = true, .old_way = true},
       {{"A faster way to play"},
        {"Getting the game ready", "Ready to play"},
        {"Update", "Play"},
        {}}},
      {"working",
       {.copy = true, .busy = true, .job = JobKind::kGame, .step = 2},
       {{"You can stop at any time: it carries on from there next time. Your saves and music are "
         "not touched."},
        {"Get the game ready"},
        {},
        {"Choose a disc image...", "Choose a folder...", "Play"}}},
      {"music import running",
       {.copy = true, .busy = true, .music_job = true},
       {{"Free on this drive: *"},
        {"You can stop at any time:*"},
        {},
        {"Get the game ready", "Play"}}},
      // The check changes nothing the game uses: it may be played meanwhile.
      {"in place while the start-up check runs",
       {.copy = true,
        .in_place = true,
        .busy = true,
        .job = JobKind::kStartupCheck,
        .built = "v1.0"},
       {{"Ready to play"},
        {"You can stop at any time:*", "Getting the game ready"},
        {"Play"},
        {"Choose a disc image...", "Choose a folder..."}}},
      {"in place while the launcher updates itself",
       {.copy = true, .in_place = true, .busy = true, .built = "v1.0"},
       {{"Ready to play"}, {"You can stop at any time:*"}, {}, {"Play"}}},
      {"update ready while the start-up check runs",
       {.copy = true,
        .in_place = true,
        .update_ready = true,
        .busy = true,
        .job = JobKind::kStartupCheck},
       {{"Version v1.0 is ready to install*"},
        {"You can stop at any time:*"},
        {"Play"},
        {"Update"}}},
      {"built the old way while the start-up check runs",
       {.copy = true, .old_way = true, .busy = true, .job = JobKind::kStartupCheck},
       {{"A faster way to play"}, {"You can stop at any time:*"}, {"Play"}, {"Update"}}},
  };
  CheckAll(true, cases);
}

TEST_F(GamePageTest, StepRowsShowDoneCurrentAndToDo) {
  struct StepCase {
    const char* name;
    State state;
    ImU32 download, unpack, build;  // label colours: text done, white current, muted to do
  };
  const StepCase cases[] = {
      {"not started", {.copy = true}, colour::kMuted, colour::kMuted, colour::kMuted},
      {"unpacking",
       {.copy = true, .busy = true, .job = JobKind::kGame, .step = 2},
       colour::kText,
       colour::kWhite,
       colour::kMuted},
      {"in place", {.copy = true, .in_place = true}, colour::kText, colour::kText, colour::kText},
      // Another job leaves an installed game's steps done, whatever step the last install left.
      {"in place, start-up check",
       {.copy = true, .in_place = true, .busy = true, .job = JobKind::kStartupCheck, .step = 2},
       colour::kText,
       colour::kText,
       colour::kText},
      {"in place, self-update",
       {.copy = true, .in_place = true, .busy = true, .step = 2},
       colour::kText,
       colour::kText,
       colour::kText},
      // An update restarts the road: the rows show the step the last install left.
      {"update ready",
       {.copy = true, .in_place = true, .update_ready = true},
       colour::kMuted,
       colour::kMuted,
       colour::kMuted},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    Apply(true, c.state);
    {
      std::lock_guard<std::mutex> lock(app().state_mutex);
      app().status = Status{"Unpacking", "40 MB of 90 MB", 0.4};
    }
    Draw(2);
    EXPECT_EQ(ColourOf("Download the program"), c.download);
    EXPECT_EQ(ColourOf("Unpack it"), c.unpack);
    EXPECT_EQ(ColourOf("Build the game for this PC"), c.build);
    // Only the current row carries the status detail, in gold (the footer's bar shows it too
    // while a job runs; the page comes first).
    const DrawnItem* detail = Find("40 MB of 90 MB");
    const bool in_a_row = detail && detail->kind == DrawnItem::Kind::kText;
    EXPECT_EQ(in_a_row, c.unpack == colour::kWhite);
    if (in_a_row) {
      EXPECT_EQ(detail->colour, colour::kGold);
    }
  }
}

TEST_F(GamePageTest, BuildModeStates) {
  const std::string consent = "I accept the license terms for Microsoft's C++ libraries and Windows SDK";
  const Case cases[] = {
      {"nothing chosen",
       {},
       {{"Free on this drive: *", consent}, {"Rebuild"}, {consent}, {"Build", "Play"}}},
      {"chosen, terms not accepted", {.copy = true}, {{}, {}, {}, {"Build"}}},
      {"ready",
       {.copy = true, .in_place = true},
       {{"Built and ready."}, {"Free on this drive: *", consent}, {"Rebuild", "Play"}, {}}},
      {"ready, no copy", {.in_place = true}, {{}, {}, {}, {"Rebuild", "Play"}}},
      {"update ready",
       {.copy = true, .in_place = true, .update_ready = true, .built = "v0.9"},
       {{"Version v1.0 of the game is ready to build (yours: v0.9)."},
        {"Built and ready.", "Rebuild"},
        {"Update"},
        {}}},
      {"update ready, dev launcher",
       {.copy = true, .in_place = true, .update_ready = true, .version = "dev"},
       {{"A new version is available."}, {}, {"Update"}, {}}},
      {"busy",
       {.copy = true, .busy = true, .job = JobKind::kGame},
       {{"Working: see the bar below. It carries on from there next time if you stop it."},
        {"Free on this drive: *", consent},
        {},
        {"Play"}}},
      {"ready while the start-up check runs",
       {.copy = true, .in_place = true, .busy = true, .job = JobKind::kStartupCheck},
       {{"Built and ready."}, {"Working: *"}, {"Play"}, {"Rebuild"}}},
      {"ready while the launcher updates itself",
       {.copy = true, .in_place = true, .busy = true},
       {{"Built and ready."}, {"Working: *"}, {}, {"Rebuild", "Play"}}},
  };
  CheckAll(false, cases);
}

TEST_F(GamePageTest, BuildNeedsTheTermsAndAShortPath) {
  Apply(false, {.copy = true});
  Draw(2);
  EXPECT_FALSE(Enabled("Build"));
  Click("I accept the license terms for Microsoft's C++ libraries and Windows SDK");
  EXPECT_TRUE(app().agreed);
  EXPECT_TRUE(Enabled("Build"));
  EXPECT_FALSE(std::filesystem::exists(app().root / "agreed.txt")) << "ticking alone writes nothing";

  // A root of more than 80 characters: the path message in red, and no build.
  Apply(false, {.copy = true}, std::string(90, 'x'));
  app().agreed = true;
  Draw(2);
  EXPECT_EQ(ColourOf("This folder's path is too long*"), colour::kRed);
  EXPECT_FALSE(Enabled("Build"));
  Click("Build");
  EXPECT_TRUE(jobs().empty());
}

TEST_F(GamePageTest, ButtonsStartTheirJobs) {
  struct ClickCase {
    const char* name;
    bool package_mode;
    State state;
    const char* button;
    StartedJob job;
  };
  const ClickCase cases[] = {
      {"get ready", true, {.copy = true}, "Get the game ready", {"InstallJob", "The game is ready. Press Play."}},
      {"package update", true, {.copy = true, .in_place = true, .update_ready = true}, "Update",
       {"InstallJob", "The game is ready. Press Play."}},
      {"old way update", true, {.copy = true, .old_way = true}, "Update", {"InstallJob", "The game is ready. Press Play."}},
      {"rebuild", false, {.copy = true, .in_place = true}, "Rebuild", {"BuildJob", "The game is built. Press Play."}},
      {"build update", false, {.copy = true, .in_place = true, .update_ready = true}, "Update",
       {"BuildJob", "The game is built. Press Play."}},
  };
  for (const ClickCase& c : cases) {
    SCOPED_TRACE(c.name);
    Apply(c.package_mode, c.state);
    app().music_job = true;
    jobs().clear();
    Click(c.button);
    EXPECT_EQ(jobs(), std::vector<StartedJob>{c.job});
    EXPECT_EQ(app().game_update_ready, c.state.update_ready) << "the offer stands until it is done";
    EXPECT_FALSE(app().music_job) << "the outcome shows on this page";
    EXPECT_FALSE(std::filesystem::exists(app().root / "agreed.txt"));
  }
}

TEST_F(GamePageTest, BuildRecordsTheConsent) {
  Apply(false, {.copy = true});
  app().agreed = true;
  Click("Build");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"BuildJob", "The game is built. Press Play."}}));
  const std::string agreed = ReadFile(app().root / "agreed.txt");
  EXPECT_EQ(agreed.rfind("https://", 0), 0u) << agreed;
  EXPECT_EQ(agreed.find('\n'), std::string::npos);
}

TEST_F(GamePageTest, ErrorAndDoneTextsShowUnlessTheMusicJobOwnsThem) {
  Apply(true, {.copy = true});
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().error = "Could not download Halvorn-windows.zip: no answer";
  }
  Draw(2);
  EXPECT_EQ(ColourOf("Could not download Halvorn-windows.zip: no answer"), colour::kRed);
  EXPECT_TRUE(Shows("Open launcher.log"));

  app().music_job = true;
  Draw(2);
  EXPECT_FALSE(Shows("Could not download Halvorn-windows.zip: no answer"));

  app().music_job = false;
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().error.clear();
    app().done = "The game is ready. Press Play.";
  }
  Draw(2);
  EXPECT_EQ(ColourOf("The game is ready. Press Play."), colour::kGreen);
}

TEST_F(GamePageTest, NewLauncherBanner) {
  Apply(true, {.copy = true, .in_place = true});
  Release release;
  release.tag_name = "v1.2";
  release.html_url = "https://example.invalid/releases/v1.2";
  app().offered_release = release;
  app().launcher_offered = true;
  Draw(2);
  EXPECT_EQ(ColourOf("Version v1.2 is out (this launcher is v1.0)."), colour::kGold);
  EXPECT_FALSE(Enabled("Update the launcher")) << "the release has no launcher to download";

  release.browser_download_url = "https://example.invalid/HalvornLauncher.exe";
  app().offered_release = release;
  Click("Update the launcher");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"UpdateLauncherJob", ""}}));

  app().busy = true;
  Draw(2);
  EXPECT_FALSE(Enabled("Update the launcher"));
  app().busy = false;

  Click("Later");
  EXPECT_TRUE(app().banner_dismissed);
  EXPECT_FALSE(Shows("A new version"));
}

TEST_F(GamePageTest, PlayAtStart) {
  Apply(true, {.copy = true, .in_place = true});
  app().play_pending = true;
  Draw(2);
  EXPECT_EQ(ColourOf("The game starts once the check for a new version is done."), colour::kGold);
  Click("Stay in the launcher");
  EXPECT_FALSE(app().play_pending);
  EXPECT_FALSE(Shows("Stay in the launcher"));

  Click("Start the game when the launcher opens, if nothing needs updating");
  EXPECT_TRUE(app().play_at_start);
  EXPECT_TRUE(app().builder->PlayAtStart()) << "saved at once";
}

TEST_F(GamePageTest, AFailedPlayShowsItsError) {
  Apply(true, {.copy = true, .in_place = true});
  Click("Play");
  std::string error;
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    error = app().error;
  }
  ASSERT_FALSE(error.empty()) << "the test's game is no program, so it cannot start";
  Draw(2);
  EXPECT_EQ(ColourOf(error), colour::kRed);
}

TEST_F(GamePageTest, AnUpdateThatDidNotFinishKeepsItsButton) {
  for (const bool package_mode : {true, false}) {
    SCOPED_TRACE(package_mode ? "package" : "build");
    Apply(package_mode, {.copy = true, .in_place = true, .update_ready = true, .built = "v0.9"});
    jobs().clear();
    Click("Update");
    ASSERT_EQ(jobs().size(), 1u);
    jobs().clear();
    for (const std::string& outcome :
         {StoppedText(),
          std::string("Could not download Halvorn-windows.zip: no answer")}) {
      SCOPED_TRACE(outcome);
      {
        std::lock_guard<std::mutex> lock(app().state_mutex);
        app().error = outcome;
      }
      Draw(2);
      EXPECT_EQ(ColourOf(outcome), colour::kRed);
      EXPECT_TRUE(Enabled("Update"));
      EXPECT_TRUE(Shows("Version v1.0 *"));
    }
    Click("Update");
    EXPECT_EQ(jobs().size(), 1u) << "pressed again, it carries on";
  }
}

// A pick that is refused leaves a working install as it was; with no copy there it is the
// page's only word on the copy.
TEST_F(GamePageTest, ARefusedPickKeepsTheSavedCopy) {
  Apply(true, {.copy = true, .in_place = true});
  const std::filesystem::path saved = app().game_copy.path;
  const std::string settings = "{\"built\": \"v1.0\", \"game\": \"" + PathToUtf8(saved) + "\"}";
  WriteFile(app().root / "launcher.json", settings);
  const std::filesystem::path wrong = app().root / "wrong.iso";
  WriteFile(wrong, std::string(64 * 1024, 'w'));

  ChooseGameCopy(app(), wrong);
  Draw(2);
  // It names the file that was refused, which the page shows nowhere else.
  EXPECT_TRUE(app().pick_error.starts_with(PathToUtf8(wrong) + ": This is not an Xbox disc "
                                                              "image of "))
      << app().pick_error;
  EXPECT_EQ(ColourOf(app().pick_error), colour::kRed);
  EXPECT_TRUE(app().game_copy.ok);
  EXPECT_EQ(app().game_copy.path, saved);
  EXPECT_TRUE(Shows("PAL 1.0"));
  EXPECT_TRUE(Shows(PathToUtf8(saved)));
  EXPECT_TRUE(Enabled("Play"));
  EXPECT_EQ(ReadFile(app().root / "launcher.json"), settings);

  Apply(true, {});
  ChooseGameCopy(app(), wrong);
  Draw(2);
  EXPECT_FALSE(app().game_copy.ok);
  EXPECT_EQ(ColourOf(app().pick_error), colour::kRed);
  EXPECT_FALSE(Enabled("Get the game ready"));
}

// A pick of a disc image on another drive (a hard link is refused): the copy runs as a job on
// the worker while the window keeps drawing. The copy's reports wait at a gate that the test
// opens, so each state is looked at while the copy is held in its first block.
class CopyPickTest : public GamePageTest {
 protected:
  void SetUp() override {
    Apply(true, {.copy = true, .in_place = true, .built = "v1.0"});
    const std::string xbe = "XBEH the test's disc";
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    app().game.releases = {{sha1.FinalHex(), "Test disc"}};
    image = app().root.parent_path() / "other drive" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    std::filesystem::create_directories(image.parent_path());
    ASSERT_TRUE(disc.WriteGamePartition(image));
    std::filesystem::resize_file(image, 24u << 20);  // three blocks of the copy

    platform.refuse_hard_links = true;
    app().builder = std::make_unique<Builder>(app().game, app().root, app().http.get(), &platform);
    app().builder->log_callback = AppendLogLine(app());
    const auto store = StoreStatus(app());
    const std::thread::id main_thread = std::this_thread::get_id();
    app().builder->status_callback = [this, store, main_thread](const Status& status) {
      if (std::this_thread::get_id() == main_thread) {
        copied_on_main_thread = true;
        store(status);
        return;
      }
      store(status);
      std::unique_lock<std::mutex> lock(gate_mutex);
      ++reports;
      gate_moved.notify_all();
      gate_moved.wait(lock, [this] { return gate_open; });
    };
    WriteFile(app().root / "launcher.json", kSettings);
    probe().run_jobs = true;
  }

  void TearDown() override {
    OpenGate();
    if (app().worker.joinable()) app().worker.join();
    app().builder.reset();  // before the platform it uses
  }

  // Picks the image as the page's button does, and waits until the copy is held in its first
  // block (the bound only matters for a copy that never reports); the reports so far.
  int PickAndHold() {
    {
      std::lock_guard<std::mutex> lock(gate_mutex);
      gate_open = false;
      reports = 0;
    }
    ChooseGameCopy(app(), image);
    std::unique_lock<std::mutex> lock(gate_mutex);
    gate_moved.wait_for(lock, std::chrono::seconds(60), [this] { return reports > 0; });
    return reports;
  }
  void OpenGate() {
    std::lock_guard<std::mutex> lock(gate_mutex);
    gate_open = true;
    gate_moved.notify_all();
  }
  // Draws until the job has ended.
  void DrawUntilIdle() {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (app().busy && std::chrono::steady_clock::now() < give_up) {
      Draw();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Draw(2);
  }
  std::filesystem::path Assets() { return app().builder->PlayFolder() / "assets"; }

  static constexpr const char* kSettings = R"({"built": "v1.0", "game": "/earlier/disc.iso"})";
  TestPlatform platform;
  std::filesystem::path image;
  bool copied_on_main_thread = false;
  std::mutex gate_mutex;
  std::condition_variable gate_moved;
  bool gate_open = true;
  int reports = 0;
};

// The pick returns while the copy is held in its first block: the frame that handled it ends
// at once. Meanwhile the footer shows the copy's bar and Stop, nothing that changes the play
// folder can be pressed, and no copy is claimed to be in place.
TEST_F(CopyPickTest, TheCopyRunsAsAJobWhileTheWindowDraws) {
  ASSERT_EQ(PickAndHold(), 1);
  EXPECT_FALSE(copied_on_main_thread);
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"CopyGameJob", ""}}));
  EXPECT_TRUE(app().busy);
  Draw(2);
  EXPECT_TRUE(Shows("Copying the disc image"));
  const DrawnItem* bar = Find("8 MB of 24 MB");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->kind, DrawnItem::Kind::kProgressBar);
  EXPECT_FLOAT_EQ(bar->fraction, 1.0f / 3);
  EXPECT_TRUE(Enabled("Stop"));
  for (const char* button : {"Play", "Choose a disc image...", "Choose a folder..."}) {
    EXPECT_FALSE(Enabled(button)) << button;
  }
  EXPECT_FALSE(Shows("PAL 1.0"));
  EXPECT_FALSE(Shows("Test disc"));
  app().section = kManageSection;
  Draw(2);
  EXPECT_TRUE(Shows("not chosen"));
  EXPECT_TRUE(Shows("Copying the disc image"));

  app().section = kGameSection;
  OpenGate();
  DrawUntilIdle();
  EXPECT_TRUE(app().game_copy.ok);
  EXPECT_EQ(app().game_copy.path, image);
  EXPECT_TRUE(Shows("Test disc"));
  EXPECT_TRUE(Shows(PathToUtf8(image)));
  EXPECT_TRUE(Enabled("Play"));
  EXPECT_EQ(std::filesystem::file_size(Assets() / "Halvorn.iso"), 24u << 20);
  const nlohmann::json settings =
      nlohmann::json::parse(ReadFile(app().root / "launcher.json"), nullptr, false);
  EXPECT_EQ(settings.value("game", ""), PathToUtf8(image));
  EXPECT_EQ(settings.value("game_sha1", "").size(), 40u);
}

// A stopped or failed copy leaves launcher.json naming the earlier copy and claims no copy in
// place: the error line says what happened, naming the button that picks the image again.
TEST_F(CopyPickTest, AStoppedOrFailedCopyChoosesNothing) {
  const struct {
    const char* name;
    std::function<void()> while_held;
    std::string shown;
  } cases[] = {
      {"stopped", [this] { Click("Stop"); },
       "Stopped before your disc image was copied. Press \"Choose a disc image...\" to copy it "
       "again."},
      {"the image shrank", [this] { std::filesystem::resize_file(image, 1u << 20); },
       "Could not copy the disc image (is the drive full?)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::resize_file(image, 24u << 20);
    app().music_job = true;  // the music import's outcome was the last shown
    ASSERT_EQ(PickAndHold(), 1);
    c.while_held();
    OpenGate();
    DrawUntilIdle();
    EXPECT_TRUE(Shows(c.shown));
    EXPECT_EQ(ColourOf(c.shown), colour::kRed);
    EXPECT_FALSE(app().game_copy.ok);
    EXPECT_FALSE(Shows("Test disc"));
    EXPECT_FALSE(Enabled("Play"));
    EXPECT_TRUE(Enabled("Choose a disc image..."));
    EXPECT_TRUE(std::filesystem::is_empty(Assets()));
    EXPECT_EQ(ReadFile(app().root / "launcher.json"), kSettings);
  }
}

// Starts the played_game test program as the game through Play; it hands over to a second
// process, which runs until the test writes "release-second" into the play folder.
class PlayedGameTest : public GamePageTest {
 protected:
  void StartTheHeldGame() {
    const std::filesystem::path play = app().builder->PlayFolder();
    std::filesystem::copy_file(TestProgram("played_game"), app().builder->GameExe(),
                               std::filesystem::copy_options::overwrite_existing);
    WriteFile(play / "second-process", "");
    Click("Play");
    ASSERT_TRUE(WaitFor([&] { return Played().find("first exiting") != std::string::npos; }))
        << Played();
  }
  void ReleaseTheGame() { WriteFile(app().builder->PlayFolder() / "release-second", ""); }
  std::string Played() { return WithoutCr(ReadFile(app().builder->PlayFolder() / "played.txt")); }

  // Draws until `done` holds; the bound is only there for a game that never ends.
  bool WaitFor(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      Draw();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }
};

// The game that Play starts counts as running until it and every process it started have
// ended; meanwhile Play starts nothing.
TEST_F(PlayedGameTest, PlayStartsOneGameAtATime) {
  Apply(true, {.copy = true, .in_place = true, .built = "v1.0"});
  app().play_pending = true;

  StartTheHeldGame();
  EXPECT_FALSE(app().play_pending) << "play-at-start has nothing left to start";
  Click("Play");
  Draw(2);
  EXPECT_FALSE(Enabled("Play"));
  EXPECT_TRUE(Shows("The game is running."));

  ReleaseTheGame();
  EXPECT_TRUE(WaitFor([&] {
    Draw();
    return Enabled("Play");
  })) << Played();
  EXPECT_FALSE(Shows("The game is running."));
  const std::string lines = Played();
  EXPECT_TRUE(lines.ends_with("second ended\n")) << lines;
  EXPECT_EQ(lines.find("first started"), lines.rfind("first started")) << lines;
}

// While the game runs, no button starts work on the folder it plays from: the update, the
// rebuild, the removal of the build files, the music import and a new choice of the copy wait
// for it, each saying why.
TEST_F(PlayedGameTest, WhileTheGameRunsNothingChangesItsFolder) {
  Apply(true, {.copy = true, .in_place = true, .update_ready = true, .built = "v0.9"});
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().build_files_size = 3 << 20;
    app().music_folder = "/music";
  }
  StartTheHeldGame();
  const struct {
    int section;
    std::vector<std::string> buttons;
  } pages[] = {
      {kGameSection, {"Update", "Choose a disc image...", "Choose a folder...", "Play"}},
      {kManageSection, {"Build the game again", "Remove the build files (3 MB)"}},
      {kMusicSection, {"Choose a music folder...", "Update my music"}},
  };
  for (const bool running : {true, false}) {
    if (!running) {
      ReleaseTheGame();
      ASSERT_TRUE(WaitFor([&] { return !app().GameRunning(); })) << Played();
    }
    for (const auto& page : pages) {
      SCOPED_TRACE(std::string(running ? "running, " : "ended, ") + "section " +
                   std::to_string(page.section));
      app().section = page.section;
      Draw(2);
      for (const std::string& button : page.buttons) {
        EXPECT_EQ(Enabled(button), !running) << button;
      }
      EXPECT_EQ(Shows("The game is running."), running);
    }
  }
  EXPECT_TRUE(jobs().empty());
}

// The launcher's own update moves files under the game and its hand-over leaves the game to a
// launcher that knows nothing of it: while the game runs, the banner's button waits, saying why,
// and a new launcher already in place says that it starts once the game has ended.
TEST_F(PlayedGameTest, TheLauncherUpdateWaitsForTheGame) {
  Apply(true, {.copy = true, .in_place = true, .built = "v1.0"});
  Release release;
  release.tag_name = "v1.1";
  release.browser_download_url = "https://example.invalid/HalvornLauncher.exe";
  app().offered_release = release;
  app().launcher_offered = true;
  const std::string waiting = "The new launcher starts once the game has ended.";
  // The note stands beside the banner's buttons, right after the last of them.
  const auto note_beside_banner = [&] {
    const std::vector<std::string> texts = Texts();
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
      if (texts[i] == "Later") return texts[i + 1] == "The game is running.";
    }
    return false;
  };

  StartTheHeldGame();
  Draw(2);
  EXPECT_FALSE(Enabled("Update the launcher"));
  EXPECT_TRUE(note_beside_banner());
  EXPECT_FALSE(Shows(waiting));
  Click("Update the launcher");
  EXPECT_TRUE(jobs().empty());

  app().restart_pending = true;  // as a download that ended just as Play was pressed leaves it
  Draw(2);
  EXPECT_FALSE(Enabled("Update the launcher"));
  EXPECT_EQ(ColourOf(waiting), colour::kGold);

  ReleaseTheGame();
  ASSERT_TRUE(WaitFor([&] { return !app().GameRunning(); })) << Played();
  Draw(2);
  EXPECT_FALSE(Shows(waiting));
  EXPECT_FALSE(note_beside_banner());
  EXPECT_FALSE(Enabled("Update the launcher")) << "the new launcher is in place already";

  app().restart_pending = false;
  Draw(2);
  EXPECT_TRUE(Enabled("Update the launcher"));
  Click("Update the launcher");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"UpdateLauncherJob", ""}}));
}

}  // namespace
}  // namespace launcher::test
