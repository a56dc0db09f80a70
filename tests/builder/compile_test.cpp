// The build's "[n/m]" lines as status reports, and installing what the build made.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class CompileTest : public BuilderTest {
 protected:
  fs::path BuildFolder() { return root / "source" / "out" / "build" / "release"; }
};

TEST_F(CompileTest, StepCountsBecomeStatusReportsAndEveryLineIsLogged) {
  struct Case {
    std::string line;
    std::string detail;  // "" when the line is only logged
    double fraction;
  } cases[] = {
      {"[812/2045] Building CXX object src/game.cpp.obj", "812 of 2045 steps", 812.0 / 2045},
      {"[2.9/3.7] parts of steps", "2 of 3 steps", 2.0 / 3},
      {"[0.5/3] half a step", "0 of 3 steps", 0},
      {"[-0.5/3] half a step below zero", "", 0},
      {"[-0/3] zero below zero", "", 0},
      {"[1/0.9] less than a step in all", "", 0},
      {"[ 3/ 4] spaced", "3 of 4 steps", 0.75},
      {"[5/4] more done than announced", "5 of 4 steps", 1.25},
      {"[/7] no count done", "0 of 7 steps", 0},
      {"[1e5/10] no exponents", "1 of 10 steps", 0.1},
      {"[0/0] nothing to do", "", 0},
      {"[a/b] no numbers", "", 0},
      {"[-3/-4] below zero", "", 0},
      {"[12] no slash", "", 0},
      {"[1] then a/b later", "", 0},
      {"[1/2 never closed", "", 0},
      {"[/]", "", 0},
      {" [1/2] indented", "", 0},
      {"ninja: no work to do.", "", 0},
      {"[1/" + std::string(400, '9') + "] a total beyond any number", "", 0},
  };
  Builder& b = MakeBuilder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    statuses.clear();
    log.clear();
    b.HandleBuildLine(c.line);
    EXPECT_EQ(log, std::vector<std::string>{c.line});
    if (c.detail.empty()) {
      EXPECT_TRUE(statuses.empty());
      continue;
    }
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].title, "Building Halvorn");
    EXPECT_EQ(statuses[0].detail, c.detail);
    EXPECT_DOUBLE_EQ(statuses[0].fraction, c.fraction);
  }
}

TEST_F(CompileTest, InstallTakesTheListedExecutableAndEveryLibrary) {
  game.exes = {"halvorn"};  // compared without regard to case
  WriteFile(BuildFolder() / Exe(), "game");
  WriteFile(BuildFolder() / ("Tool" + platform.ExeSuffix()), "not listed");
  WriteFile(BuildFolder() / "Halvorn.DLL", "library");
  WriteFile(BuildFolder() / "helper.dll", "helper");
  WriteFile(BuildFolder() / "build.ninja", "rules");
  WriteFile(BuildFolder() / "folder.dll" / "inside.dll", "not at the top");
  WriteFile(root / "play" / "helper.dll", "an older helper");
  WriteFile(root / "play" / "assets" / "default.xbe", "the player's");

  std::string err;
  ASSERT_TRUE(MakeBuilder().InstallBuild(err)) << err;
  EXPECT_EQ(FilesUnder(root / "play"),
            (std::map<std::string, std::string>{{Exe(), "game"},
                                                {"Halvorn.DLL", "library"},
                                                {"helper.dll", "helper"},
                                                {"assets/default.xbe", "the player's"}}));
  EXPECT_TRUE(Logged("installed in " + PathToUtf8(root / "play")));
}

TEST_F(CompileTest, InstallFailsWithoutTheGamesExecutable) {
  game.exes = {"Halvorn"};
  const std::string expected = "The build made no Halvorn" + platform.ExeSuffix();
  std::string err;
  EXPECT_FALSE(MakeBuilder().InstallBuild(err));  // no build folder at all
  EXPECT_EQ(err, expected);

  WriteFile(BuildFolder() / "Halvorn.dll", "library");
  WriteFile(BuildFolder() / ("Other" + platform.ExeSuffix()), "not listed");
  err.clear();
  EXPECT_FALSE(MakeBuilder().InstallBuild(err));
  EXPECT_EQ(err, expected);
  EXPECT_TRUE(fs::exists(root / "play" / "Halvorn.dll"));
  EXPECT_FALSE(Logged("installed in " + PathToUtf8(root / "play")));
}

TEST_F(CompileTest, InstallThatCannotCopySaysWhichFile) {
  game.exes = {"Halvorn"};
  WriteFile(BuildFolder() / Exe(), "game");
  WriteFile(root / "play" / Exe() / "in the way", "a folder where the game goes");
  std::string err;
  EXPECT_FALSE(MakeBuilder().InstallBuild(err));
  EXPECT_EQ(err, "Cannot copy " + Exe() + " (is the game still running?)");
}

}  // namespace
}  // namespace launcher::test
