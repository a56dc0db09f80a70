// The Manage page: the install's table, the folders and the removal jobs.
#include <regex>
#include <string>
#include <vector>

#include "app/pages.h"
#include "page_fixture.h"
#include "platform/platform.h"

namespace launcher::test {
namespace {

class ManagePageTest : public PageTest {
 protected:
  void Open(bool package_mode) {
    UseGame(PageGame(package_mode, true));
    app().section = kManageSection;
  }
  void SetSizes(uint64_t build_files, uint64_t tools) {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().build_files_size = build_files;
    app().tools_size = tools;
  }
  // The value drawn right of a table label (the last text of that name: "Game" is a section
  // of the list as well).
  std::string ValueOf(const std::string& label) {
    const std::vector<std::string> texts = Texts();
    for (size_t i = texts.size() - 1; i-- > 0;) {
      if (texts[i] == label) return texts[i + 1];
    }
    ADD_FAILURE() << "no row " << label;
    return "";
  }
};

TEST_F(ManagePageTest, TableDescribesTheInstall) {
  struct Case {
    const char* name;
    bool copy, in_place, old_way;
    std::string built;
    std::string game;
  };
  const Case cases[] = {
      {"nothing yet", false, false, false, "", "not ready yet"},
      {"in place", true, true, false, "v1.0", "v1.0"},
      {"in place, no version", true, true, false, "", "ready"},
      {"old way", true, false, true, "v0.8", "v0.8, built the old way: update it on Game"},
      {"old way, no version", true, false, true, "",
       "an earlier version, built the old way: update it on Game"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(true);
    if (c.copy) AcceptCopy();
    if (c.in_place || c.old_way) PutGameInPlace(c.old_way);
    if (!c.built.empty()) RecordBuilt(c.built);
    Draw(2);
    EXPECT_EQ(ValueOf("Launcher"), "v1.0");
    EXPECT_EQ(ValueOf("Game"), c.game);
    EXPECT_EQ(ValueOf("Your copy"),
              c.copy ? "PAL 1.0, " + PathToUtf8(app().game_copy.path) : "not chosen");
    EXPECT_EQ(ValueOf("Folder"), PathToUtf8(app().root));
    EXPECT_TRUE(std::regex_match(ValueOf("Free on this drive"), std::regex("[0-9.]+ (MB|GB)")));
    EXPECT_EQ(ColourOf("Your copy"), colour::kMuted);
    EXPECT_EQ(Enabled("Open the game's folder"), c.in_place);
    EXPECT_TRUE(Enabled("Open launcher.log"));
  }
}

TEST_F(ManagePageTest, RemovalButtons) {
  const uint64_t mb = 1024 * 1024;
  struct Case {
    const char* name;
    bool package_mode, in_place, copy, busy;
    uint64_t build_files, tools;
    std::vector<std::string> enabled, disabled, absent;
  };
  const Case cases[] = {
      {"package, in place", true, true, true, false, 300 * mb, 2048 * mb,
       {"Remove the build files (300 MB)", "Remove the old build tools (2.0 GB)", "Build the game again"},
       {}, {}},
      {"no build files", true, true, true, false, 0, 0,
       {"Build the game again"}, {"Remove the build files (0 MB)"}, {"Remove the old build tools*"}},
      {"not in place", true, false, true, false, 300 * mb, 10 * mb, {},
       {"Remove the build files (300 MB)", "Remove the old build tools (10 MB)", "Build the game again"}, {}},
      {"no copy", true, true, false, false, 300 * mb, 0, {"Remove the build files (300 MB)"},
       {"Build the game again"}, {}},
      {"busy", true, true, true, true, 300 * mb, 10 * mb, {},
       {"Remove the build files (300 MB)", "Remove the old build tools (10 MB)", "Build the game again"}, {}},
      {"built from source", false, true, true, false, 300 * mb, 10 * mb,
       {"Remove the build files (300 MB)"}, {},
       {"Remove the old build tools*", "Build the game again"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.package_mode);
    if (c.copy) AcceptCopy();
    if (c.in_place) PutGameInPlace();
    SetSizes(c.build_files, c.tools);
    app().busy = c.busy;
    Draw(2);
    for (const std::string& text : c.enabled) EXPECT_TRUE(Enabled(text)) << text;
    for (const std::string& text : c.disabled) EXPECT_FALSE(Enabled(text)) << text;
    for (const std::string& text : c.absent) EXPECT_FALSE(Shows(text)) << text;
  }
  // The note under the tools' button follows the game.
  Open(true);
  SetSizes(0, mb);
  Draw(2);
  EXPECT_TRUE(Shows("Once the game is updated: the earlier versions built it with these."));
}

TEST_F(ManagePageTest, ButtonsStartTheirJobs) {
  Open(true);
  AcceptCopy();
  PutGameInPlace();
  SetSizes(5 * 1024 * 1024, 7 * 1024 * 1024);
  app().music_job = true;
  Click("Remove the build files (5 MB)");
  EXPECT_FALSE(app().music_job);
  Click("Remove the old build tools (7 MB)");
  Click("Build the game again");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{
                        {"RemoveBuildFilesJob", "Build files removed. An update builds everything again."},
                        {"RemoveToolsJob", "The old build tools are removed."},
                        {"RebuildJob", "The game is ready. Press Play."}}));
}

// The whole road once, with the real job runner: the click starts the job on the worker, and
// its done text shows on the Game page.
TEST_F(ManagePageTest, RemovingBuildFilesEndsOnTheGamePage) {
  Open(true);
  PutGameInPlace();
  WriteFile(app().builder->PlayFolder() / "compiler" / "work" / "code.obj", "object");
  SetSizes(1, 0);
  probe().run_jobs = true;
  Click("Remove the build files (0 MB)");
  app().worker.join();
  EXPECT_FALSE(std::filesystem::exists(app().builder->PlayFolder() / "compiler" / "work"));
  app().section = kGameSection;
  Draw(2);
  EXPECT_EQ(ColourOf("Build files removed. An update builds everything again."), colour::kGreen);
}

}  // namespace
}  // namespace launcher::test
