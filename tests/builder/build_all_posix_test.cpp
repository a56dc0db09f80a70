// Building the game from source on this PC with every real part: tools served from 127.0.0.1
// (a zip, a tar.xz with a strip count, a keep list and a GNU long name, an optional tool, and
// Microsoft's packages resolved through a Visual Studio channel and manifest: .vsix files and a
// Windows Installer package with its external cabinet), the game's source in a git repository
// with a branch, the launcher's version tag and a submodule, cloned over file://, and a small
// CMake project that the system's cmake and ninja build into the game.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "build_all_fixture.h"
#include "builder/builder.h"
#include "platform/progress.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

TEST_F(BuildAllTest, BuildsTheGameFromSourceWithEveryRealPart) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err << "\n" << ReadFile(root / "launcher.log");

  // The play folder holds the game, its library and the player's copy, nothing else.
  EXPECT_EQ(EntriesUnder(root / "play"),
            (std::set<std::string>{"Halvorn", "Halvorn.dll", "assets/", "assets/Halvorn.iso"}));
  EXPECT_EQ(builder->BuiltVersion(), "v1.0");
  EXPECT_EQ(ReadFile(root / "toolchain.json"), toolchain_json.dump(4));
  EXPECT_FALSE(fs::exists(root / "downloads"));

  // The tools, unpacked by their rules, and their stamps byte for byte.
  EXPECT_EQ(FilesUnder(Tools() / "zipped"),
            (std::map<std::string, std::string>{{".launcher-stamp", zipped.sha256},
                                                {"bin/zipped.txt", "zipped tool"}}));
  EXPECT_EQ(FilesUnder(Tools() / "packed"),
            (std::map<std::string, std::string>{{".launcher-stamp", PackedStamp()},
                                                {"bin/packed.txt", "packed tool"},
                                                {kLongName, "long named"},
                                                {"share/doc/keep.txt", "kept"}}));
  EXPECT_FALSE(fs::exists(Tools() / "extra"));
  EXPECT_EQ(ReadFile(Tools() / "msvc" / ".launcher-stamp"), MsvcStamp());
  EXPECT_EQ(ReadFile(Tools() / "msvc" / kMsvcFolder / "include" / "vcruntime.h"), "vcruntime");
  EXPECT_FALSE(fs::exists(Tools() / "msvc" / "extension.vsixmanifest"));
  EXPECT_EQ(ReadFile(Tools() / "winsdk" / ".launcher-stamp"), SdkStamp());
  EXPECT_EQ(
      ReadFile(Tools() / "winsdk" / "Windows Kits/10/Include" / kSdkVersion / "ucrt/corecrt.h"),
      "corecrt");
  EXPECT_EQ(ReadFile(BuildFolder() / ".launcher-tools"), ToolsStamp());
  EXPECT_EQ(server.Count(extra.path), 0);
  EXPECT_EQ(server.Count(unnamed_cab.path), 0);
  EXPECT_EQ(server.Count(cab.path), 1);

  // The source: the tag's revision with its submodule, and the player's XBE in it.
  EXPECT_EQ(ReadFile(root / "source" / "lib" / "version.h"), "#define GAME_VERSION \"1.0\"\n");
  EXPECT_EQ(ReadFile(root / "source" / "assets" / "default.xbe"), xbe);

  // Every stage in order, the tools summary, the install and the timing summary.
  EXPECT_EQ(Stages(), AllStages());
  EXPECT_EQ(LinesStarting("tools: "),
            std::vector<std::string>{"tools: 5, " +
                                     FormatSize(zipped.bytes.size() + packed.bytes.size() +
                                                vsix[0].bytes.size() + vsix[1].bytes.size() +
                                                vsix[2].bytes.size() + msi.bytes.size() +
                                                cab.bytes.size() + unnamed_cab.bytes.size()) +
                                     " to download at most"});
  EXPECT_TRUE(Logged("installed in " + PathToUtf8(root / "play")));
  EXPECT_EQ(CountLogged("xbe written to " + PathToUtf8(root / "source" / "assets" / "default.xbe")),
            1);
  const std::vector<std::string> timings = LinesStarting("timing: ");
  ASSERT_EQ(timings.size(), 11u);
  EXPECT_EQ(timings[0].rfind("timing: 10 stages, ", 0), 0u) << timings[0];
  EXPECT_TRUE(LinesStarting("build stopped: ").empty());
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().title, "Ready");
  EXPECT_EQ(statuses.back().fraction, 1);
  EXPECT_FALSE(LinesStarting("[1/").empty());  // the build's own step lines reach the log

  // The environment the build's children received, as the project's configure wrote it.
  ExpectBuildEnvironment();
}

TEST_F(BuildAllTest, ASecondRunWithNothingChangedRunsEveryStageAndFetchesNoTool) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  const int requests = ToolRequests();
  WriteFile(root / "source" / "untracked.txt", "a clone would not keep this");
  builder->SetSetting("built", "v0.9");
  log.clear();
  statuses.clear();

  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(Stages(), AllStages());
  EXPECT_EQ(ToolRequests(), requests);
  EXPECT_TRUE(fs::exists(root / "source" / "untracked.txt"));  // fetched, not cloned
  EXPECT_TRUE(LinesStarting("xbe written to ").empty());
  EXPECT_TRUE(LinesStarting("the build tools changed").empty());
  EXPECT_TRUE(Logged("ninja: no work to do."));
  EXPECT_EQ(builder->BuiltVersion(), "v1.0");
  EXPECT_EQ(statuses.back().title, "Ready");
}

TEST_F(BuildAllTest, ANewToolDigestRebuildsFromAFreshCache) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  zipped = Serve("/dl/zipped-1.1.zip",
                 ZipBytes("zipped-1.1.zip", {{"bin/zipped.txt", "zipped tool, version 2"}}));
  ServeTools();
  log.clear();

  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(CountLogged("the build tools changed: CMake's cache is made again"), 1);
  EXPECT_EQ(ReadFile(Tools() / "zipped" / "bin" / "zipped.txt"), "zipped tool, version 2");
  EXPECT_EQ(ReadFile(BuildFolder() / ".launcher-tools"), ToolsStamp());
  EXPECT_FALSE(LinesStarting("[1/").empty());  // everything compiled again
  EXPECT_EQ(server.Count(packed.path), 1);
}

// Where a stop falls: the first status or log line that begins with `when`.
struct StopCase {
  std::string when;
  bool on_status;
  std::string stopped_stage;
};

TEST_F(BuildAllTest, AStopInAnyStageEndsAsCancelledAndTheNextRunCarriesOn) {
  const StopCase cases[] = {
      {"Downloading zipped tool", true, "tool zipped"},
      {"Downloading packed tool", true, "tool packed"},
      {"git: ", false, "game source"},
      {"cmake: ", false, "configure (cmake)"},
      {"Building Halvorn", true, "compile and link (cmake --build)"},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.when);
    bool stopped = false;
    auto stop = [&](const std::string& text) {
      if (!stopped && text.rfind(c.when, 0) == 0) {
        stopped = true;
        builder->cancel = true;
      }
    };
    on_log = [&](const std::string& line) {
      if (!c.on_status) stop(line);
    };
    on_status = [&](const Status& status) {
      if (c.on_status) stop(status.title);
    };
    log.clear();
    std::string err;
    EXPECT_FALSE(builder->BuildAll(err));
    EXPECT_EQ(err, kCancelled);
    const std::vector<std::string> stages = Stages();
    ASSERT_FALSE(stages.empty());
    EXPECT_EQ(stages.back(), c.stopped_stage + " (stopped)");
    EXPECT_TRUE(LinesStarting("build stopped: ").empty());
    EXPECT_EQ(LinesStarting("timing: ").size(), stages.size() + 1);
  }
  on_log = nullptr;
  on_status = nullptr;
  log.clear();
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(Stages(), AllStages());
  // Tools installed before a stop were not fetched again.
  EXPECT_EQ(server.Count(vsix[0].path), 1);
  EXPECT_EQ(server.Count(msi.path), 1);
}

TEST_F(BuildAllTest, AStopDuringTheFirstCloneClonesAgainNextTime) {
  // The repository over plain HTTP, whose first answer is held: the stop falls while git waits
  // for it, after the clone has made its folder.
  const fs::path bare = scratch / "served" / "game.git";
  Git({"clone", "-q", "--bare", PathToUtf8(scratch / "repos" / "game"), PathToUtf8(bare)},
      scratch.path());
  Git({"update-server-info"}, bare);
  for (const auto& [name, bytes] : FilesUnder(bare)) server.Serve("/game.git/" + name, bytes);
  Reply held;
  held.body = ReadFile(bare / "info" / "refs");
  held.stall_after = 0;
  server.Route("/game.git/info/refs", held);
  game.repo = server.Url("/game.git");
  MakeBuilder();
  on_log = [&](const std::string& line) {
    if (line.rfind("git: Cloning into", 0) == 0) builder->cancel = true;
  };
  std::string err;
  EXPECT_FALSE(builder->BuildAll(err));
  EXPECT_EQ(err, kCancelled);
  EXPECT_EQ(Stages().back(), "game source (stopped)");
  on_log = nullptr;
  server.ReleaseStalls();

  log.clear();
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(Stages(), AllStages());
}

TEST_F(BuildAllTest, AToolStoppedInItsThirdFileResumesThatFileAlone) {
  // The third .vsix is sent in part, then held until the stop has been made.
  Reply held;
  held.body = vsix[2].bytes;
  held.stall_after = 200 * 1024;
  server.Route(vsix[2].path, held);
  on_status = [&](const Status& status) {
    if (status.title == "Downloading Microsoft C++ libraries " + kMsvcVersion &&
        status.fraction * (vsix[0].bytes.size() + vsix[1].bytes.size() + vsix[2].bytes.size()) >
            vsix[0].bytes.size() + vsix[1].bytes.size() + 1000 &&
        !builder->cancel) {
      builder->cancel = true;
      server.ReleaseStalls();
    }
  };
  std::string err;
  EXPECT_FALSE(builder->BuildAll(err));
  EXPECT_EQ(err, kCancelled);
  EXPECT_EQ(Stages().back(), "tool msvc (stopped)");
  on_status = nullptr;
  server.Serve(vsix[2].path, vsix[2].bytes);

  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(server.Count(vsix[0].path), 1);
  EXPECT_EQ(server.Count(vsix[1].path), 1);
  const std::vector<std::string> ranges = server.Ranges(vsix[2].path);
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "");
  EXPECT_EQ(ranges[1].rfind("bytes=", 0), 0u);
  EXPECT_NE(ranges[1], "bytes=0-");
}

TEST_F(BuildAllTest, AFailedStageStopsTheBuildWithItsReason) {
  server.Status("/toolchain.json", 404);
  std::string err;
  EXPECT_FALSE(builder->BuildAll(err));
  EXPECT_EQ(err.rfind("Could not download the list of build tools: ", 0), 0u) << err;
  EXPECT_EQ(Stages(), std::vector<std::string>{"build tools list (stopped)"});
  EXPECT_EQ(LinesStarting("build stopped: "), std::vector<std::string>{"build stopped: " + err});
  EXPECT_EQ(LinesStarting("timing: ").size(), 2u);
  EXPECT_EQ(builder->BuiltVersion(), "");
}

TEST_F(BuildAllTest, ADevLauncherOffersAnUpdateWhenTheBranchMovesOn) {
  game.launcher_version = "dev";
  Builder& b = MakeBuilder();
  bool ready = true;
  std::string error;
  ASSERT_TRUE(b.CheckGameUpdate(ready, error)) << error;  // no clone yet
  EXPECT_FALSE(ready);
  EXPECT_EQ(error, "");

  ASSERT_TRUE(b.FetchSource(error)) << error;
  ASSERT_TRUE(b.CheckGameUpdate(ready, error)) << error;
  EXPECT_FALSE(ready);

  const fs::path repo = scratch / "repos" / "game";
  WriteFile(repo / "game.cpp", "extern \"C\" int GameMain() { return 1; }\n");
  Git({"commit", "-q", "-a", "-m", "a change"}, repo);
  ASSERT_TRUE(b.CheckGameUpdate(ready, error)) << error;
  EXPECT_TRUE(ready);

  fs::remove_all(repo);
  EXPECT_FALSE(b.CheckGameUpdate(ready, error));
  EXPECT_FALSE(ready);
  // git's own sentence, naming its first argument.
  EXPECT_TRUE(std::regex_match(error, std::regex("git -C failed \\([0-9]+\\), see launcher.log")))
      << error;
}

}  // namespace
}  // namespace launcher::test
