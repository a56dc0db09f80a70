// Building the game from source with stand-ins where the system cannot run the real tools (git
// and CMake under Wine, the Windows Installer's administrative install; see
// stand_in_build_fixture.h): the build must find the toolchain's own git and cmake under tools/.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/stand_in_build_fixture.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/system_state.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

TEST_F(BuildAllStandInTest, BuildsWithTheToolchainsOwnGitAndCMake) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err << "\n" << ReadFile(root / "launcher.log");
  EXPECT_EQ(Stages(), AllStages());

  const std::string own_cmake =
      PathToUtf8(Tools() / "cmake" / "bin" / ("cmake" + platform.ExeSuffix()));
  const std::string source = PathToUtf8(root / "source");
  EXPECT_EQ(GitRuns(), (std::vector<std::string>{
                           "clone|--progress|--branch|v1.0|" + game.repo + "|" + source,
                           "-C|" + source + "|submodule|update|--init|--recursive|--progress"}));
  EXPECT_EQ(CMakeRuns(),
            (std::vector<std::string>{own_cmake + " --preset release -DCMAKE_LINKER_TYPE=LLD",
                                      own_cmake + " --build out/build/release"}));
  ExpectBuildEnvironment();

  const std::string exe = "Halvorn" + platform.ExeSuffix();
  EXPECT_EQ(EntriesUnder(root / "play"),
            (std::set<std::string>{exe, "Halvorn.dll", "assets/", "assets/Halvorn.iso"}));
  EXPECT_EQ(ReadFile(root / "play" / exe), "the game");
  EXPECT_EQ(ReadFile(BuildFolder() / ".launcher-tools"), "cmake " + cmake.sha256 + " bin/\ngit " +
                                                             git.sha256 + "\nmsvc " + MsvcStamp() +
                                                             "\nwinsdk " + SdkStamp() + "\n");
  EXPECT_EQ(ReadFile(Tools() / "winsdk" / ".launcher-stamp"), SdkStamp());
  EXPECT_EQ(server.Count(unnamed_cab.path), 0);
  EXPECT_EQ(builder->BuiltVersion(), "v1.0");

  // git's progress and the build's steps reached the status line.
  auto reported = [&](const std::string& title, const std::string& detail, double fraction) {
    for (const Status& status : statuses) {
      if (status.title == title && status.detail == detail && status.fraction == fraction) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(reported("Downloading the game's source", "Receiving objects", 0.5));
  EXPECT_TRUE(reported("Downloading the game's source", "Receiving objects", 1));
  EXPECT_TRUE(reported("Building Halvorn", "1 of 2 steps", 0.5));
  EXPECT_TRUE(reported("Building Halvorn", "2 of 2 steps", 1));
  EXPECT_EQ(statuses.back().title, "Ready");
}

TEST_F(BuildAllStandInTest, AChosenCopyWhosePlayFolderWentIsLinkedAgainBeforeAnyStage) {
  fs::remove_all(root / "play");  // launcher.json still names the disc image
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err << "\n" << ReadFile(root / "launcher.log");
  EXPECT_EQ(ReadFile(root / "play" / "assets" / "Halvorn.iso"), ReadFile(image));
  const auto relinked = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.rfind("the game's copy is no longer in ", 0) == 0;
  });
  const auto first_stage = std::find_if(
      log.begin(), log.end(), [](const std::string& line) { return line.rfind("stage ", 0) == 0; });
  EXPECT_LT(relinked, first_stage);
}

TEST_F(BuildAllStandInTest, TheNextBuildFetchesAndKeepsCMakesCacheUntilAToolChanges) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  const int requests = server.Count(cmake.path) + server.Count(git.path) +
                       server.Count(vsix[0].path) + server.Count(msi.path) + server.Count(cab.path);
  fs::remove(root / "git_calls.txt");
  log.clear();

  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(server.Count(cmake.path) + server.Count(git.path) + server.Count(vsix[0].path) +
                server.Count(msi.path) + server.Count(cab.path),
            requests);
  const std::string source = PathToUtf8(root / "source");
  EXPECT_EQ(GitRuns(),
            (std::vector<std::string>{
                "-C|" + source + "|fetch|--progress|--force|origin|refs/tags/v1.0:refs/tags/v1.0",
                "-C|" + source + "|reset|--hard|v1.0",
                "-C|" + source + "|submodule|update|--init|--recursive|--progress"}));
  EXPECT_TRUE(LinesStarting("the build tools changed").empty());

  // A new digest for one tool: it is installed again and CMake's cache goes.
  git = Serve("/dl/git-2.zip", GitZip("git-2.zip", {{"cmd/version.txt", "2"}}));
  json tools = toolchain_json["tools"];
  tools[1] = ToolEntry("git", git);
  ServeToolchain(tools);
  WriteFile(BuildFolder() / "CMakeFiles" / "generated.txt", "from the old tools");
  log.clear();
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(CountLogged("the build tools changed: CMake's cache is made again"), 1);
  EXPECT_FALSE(fs::exists(BuildFolder() / "CMakeFiles"));
  EXPECT_EQ(server.Count(git.path), 1);
  EXPECT_EQ(ReadFile(Tools() / "git" / "cmd" / "version.txt"), "2");
}

TEST_F(BuildAllStandInTest, AFailingConfigureOrBuildStopsWithItsSentence) {
  struct Case {
    std::string refused;  // the first argument the stand-in cmake refuses
    std::string error;
    std::string stage;
    std::string logged;  // how the refusal reaches the log
    bool stamped;        // whether .launcher-tools is written
  } cases[] = {
      {"--preset", "Preparing the build failed, see launcher.log", "configure (cmake)",
       "cmake: stand-in refuses --preset", false},
      {"--build", "The build failed, see launcher.log", "compile and link (cmake --build)",
       "stand-in refuses --build", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    ScopedEnv refuse("LAUNCHER_TEST_FAKE_REFUSE", c.refused);
    fs::remove_all(BuildFolder());
    log.clear();
    std::string err;
    EXPECT_FALSE(builder->BuildAll(err));
    EXPECT_EQ(err, c.error);
    ASSERT_FALSE(Stages().empty());
    EXPECT_EQ(Stages().back(), c.stage + " (stopped)");
    EXPECT_TRUE(Logged(c.logged));
    EXPECT_EQ(LinesStarting("build stopped: "),
              std::vector<std::string>{"build stopped: " + c.error});
    EXPECT_EQ(fs::exists(BuildFolder() / ".launcher-tools"), c.stamped);
    EXPECT_EQ(builder->BuiltVersion(), "");
  }
}

// CMake writes its cache in place, so a full disk can leave it cut short. A configure that
// fails on a kept cache tries once more from an empty one; one that fails without a cache, or
// fails again, stops the build.
TEST_F(BuildAllStandInTest, AConfigureThatFailsOnAKeptCacheTriesOnceMoreWithoutIt) {
  std::string err;
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  const std::string configure =
      PathToUtf8(Tools() / "cmake" / "bin" / ("cmake" + platform.ExeSuffix())) +
      " --preset release -DCMAKE_LINKER_TYPE=LLD";
  const auto configured = [&] {
    const std::vector<std::string> runs = CMakeRuns();
    return std::count(runs.begin(), runs.end(), configure);
  };
  const std::string retried = "configure failed with CMake's kept cache: it is made again";

  WriteFile(BuildFolder() / "CMakeCache.txt", "CMAKE_GENE");
  WriteFile(BuildFolder() / "CMakeFiles" / "generated.txt", "from the cut-short run");
  fs::remove(Record());
  log.clear();
  ASSERT_TRUE(builder->BuildAll(err)) << err;
  EXPECT_EQ(CountLogged(retried), 1);
  EXPECT_TRUE(Logged("cmake: CMake Error: Parse error in cache file CMakeCache.txt"));
  EXPECT_EQ(configured(), 2);
  EXPECT_FALSE(fs::exists(BuildFolder() / "CMakeFiles"));
  EXPECT_EQ(ReadFile(root / "play" / Exe()), "the game");

  // A source CMake refuses fails both tries; without a kept cache it is tried once.
  ScopedEnv refuse("LAUNCHER_TEST_FAKE_REFUSE", "--preset");
  for (const bool kept : {true, false}) {
    SCOPED_TRACE(kept ? "a kept cache" : "no cache");
    if (!kept) fs::remove_all(BuildFolder());
    fs::remove(Record());
    log.clear();
    EXPECT_FALSE(builder->BuildAll(err));
    EXPECT_EQ(err, "Preparing the build failed, see launcher.log");
    EXPECT_EQ(CountLogged(retried), kept ? 1 : 0);
    EXPECT_EQ(configured(), kept ? 2 : 1);
  }
}

}  // namespace
}  // namespace launcher::test
