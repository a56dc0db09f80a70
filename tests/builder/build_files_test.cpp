// What the build leaves behind, in both modes: which old build tools are listed, how much room
// they and the build files take, their removal; the root's path length; starting the game.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class BuildFilesTest : public BuilderTest {
 protected:
  // A root holding leftovers of both roads.
  void MakeLeftovers() {
    WriteFile(root / "tools" / "cmake" / "bin" / "cmake", std::string(1000, 'c'));
    WriteFile(root / "tools" / "cmake" / ".launcher-stamp", std::string(64, '0'));
    WriteFile(root / "tools" / "ninja" / "ninja", std::string(300, 'n'));
    WriteFile(root / "tools" / "stray.txt", std::string(7, 's'));
    WriteFile(root / "tools" / "FFmpeg" / "bin" / "ffmpeg", std::string(5000, 'f'));
    WriteFile(root / "source" / "CMakeLists.txt", std::string(20, 'l'));
    WriteFile(root / "source" / "out" / "build" / "release" / "game.o", std::string(400, 'o'));
    WriteFile(root / "downloads" / "llvm" / "llvm.tar.xz.part", std::string(50, 'x'));
    WriteFile(root / "agreed.txt", "https://example.invalid/licence");
    WriteFile(root / "play" / "compiler" / "work" / "a.bin", std::string(600, 'a'));
    WriteFile(root / "play" / "compiler" / "work" / "deep" / "b.bin", std::string(70, 'b'));
  }

  std::vector<std::string> Names(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const fs::path& path : paths) {
      std::string name = PathToUtf8(path.lexically_relative(root));
      std::replace(name.begin(), name.end(), '\\', '/');
      names.push_back(name);
    }
    return names;
  }
};

TEST_F(BuildFilesTest, PackageModeListsSizesAndRemovesTheOldBuildToolsButTheMusicConverter) {
  game.package = "Halvorn-windows.zip";
  MakeLeftovers();
  Builder& b = MakeBuilder();

  std::vector<std::string> names = Names(b.ListTools());
  ASSERT_EQ(names.size(), 6u);
  // The tool folders come first, in the listing's order, then the three fixed names in order.
  std::vector<std::string> tools(names.begin(), names.begin() + 3);
  std::sort(tools.begin(), tools.end());
  EXPECT_EQ(tools, (std::vector<std::string>{"tools/cmake", "tools/ninja", "tools/stray.txt"}));
  EXPECT_EQ(std::vector<std::string>(names.begin() + 3, names.end()),
            (std::vector<std::string>{"source", "downloads", "agreed.txt"}));

  const uint64_t agreed = ReadFile(root / "agreed.txt").size();
  EXPECT_EQ(b.ToolsSize(), 1000u + 64 + 300 + 7 + 20 + 400 + 50 + agreed);
  EXPECT_EQ(b.BuildFilesSize(), 670u);

  std::string error;
  ASSERT_TRUE(b.RemoveTools(error)) << error;
  for (const fs::path& path : {root / "tools" / "cmake", root / "tools" / "ninja",
                               root / "tools" / "stray.txt", root / "source",
                               root / "downloads", root / "agreed.txt"}) {
    EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_EQ(CountLogged("removed " + PathToUtf8(path)), 1) << path;
  }
  EXPECT_EQ(ReadFile(root / "tools" / "FFmpeg" / "bin" / "ffmpeg").size(), 5000u);
  EXPECT_TRUE(b.ListTools().empty());
  EXPECT_EQ(b.ToolsSize(), 0u);

  // The build files of package mode are the game's own code build in the play folder.
  ASSERT_TRUE(b.RemoveBuildFiles(error)) << error;
  EXPECT_FALSE(fs::exists(root / "play" / "compiler" / "work"));
  EXPECT_TRUE(fs::exists(root / "play" / "compiler"));
  EXPECT_EQ(b.BuildFilesSize(), 0u);
  ASSERT_TRUE(b.RemoveBuildFiles(error)) << error;  // nothing there is no error
}

TEST_F(BuildFilesTest, OutsidePackageModeTheToolsStayAndTheBuildFilesAreCMakes) {
  MakeLeftovers();
  Builder& b = MakeBuilder();
  EXPECT_TRUE(b.ListTools().empty());
  EXPECT_EQ(b.ToolsSize(), 0u);
  std::string error;
  ASSERT_TRUE(b.RemoveTools(error)) << error;
  EXPECT_TRUE(fs::exists(root / "tools" / "cmake" / "bin" / "cmake"));
  EXPECT_TRUE(fs::exists(root / "agreed.txt"));

  EXPECT_EQ(b.BuildFilesSize(), 400u);
  ASSERT_TRUE(b.RemoveBuildFiles(error)) << error;
  EXPECT_FALSE(fs::exists(root / "source" / "out"));
  EXPECT_TRUE(fs::exists(root / "source" / "CMakeLists.txt"));
  EXPECT_TRUE(fs::exists(root / "play" / "compiler" / "work" / "a.bin"));
  EXPECT_EQ(b.BuildFilesSize(), 0u);
  // Only RemoveTools logs, and here it had nothing to remove.
  EXPECT_TRUE(log.empty());
}

TEST_F(BuildFilesTest, NothingLeftOverIsEmptyAndFree) {
  game.package = "Halvorn-windows.zip";
  Builder& b = MakeBuilder();
  EXPECT_TRUE(b.ListTools().empty());
  EXPECT_EQ(b.ToolsSize(), 0u);
  EXPECT_EQ(b.BuildFilesSize(), 0u);
  std::string error;
  EXPECT_TRUE(b.RemoveTools(error));
  EXPECT_TRUE(b.RemoveBuildFiles(error));
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(BuildFilesTest, BuiltOldWayIsAnExecutableWithoutThePackagesLibrary) {
  struct Case {
    bool package_mode;
    bool exe;
    bool dll;
    bool old_way;
  } cases[] = {
      {true, true, false, true},   {true, true, true, false},   {true, false, false, false},
      {true, false, true, false},  {false, true, false, false}, {false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "package " << c.package_mode << ", exe " << c.exe
                                      << ", dll " << c.dll);
    fs::remove_all(root);
    game.package = c.package_mode ? "Halvorn-windows.zip" : "";
    if (c.exe) WriteFile(root / "play" / Exe(), "exe");
    if (c.dll) WriteFile(root / "play" / "Halvorn.dll", "dll");
    EXPECT_EQ(MakeBuilder().BuiltOldWay(), c.old_way);
  }
}

TEST_F(BuildFilesTest, ARootLongerThanEightyUtf16UnitsIsRefusedWithTheCount) {
  // Builds a root of exactly `units` UTF-16 units under the scratch folder; the last character
  // before the padding is one beyond U+FFFF, which takes two units.
  const std::string base = PathToUtf8(scratch.path() / "");
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E, two UTF-16 units, four bytes
  auto root_of = [&](size_t units) {
    const size_t used = Utf8ToWide(base).size() + 2;
    EXPECT_LT(used, units) << "the scratch folder's path is too long for this test";
    return base + clef + std::string(units - used, 'r');
  };

  game.short_name = "Halvorn";
  root = PathFromUtf8(root_of(80));
  std::string error = "untouched";
  EXPECT_FALSE(MakeBuilder().PathTooLong(error));
  EXPECT_EQ(error, "untouched");

  const std::string long_root = root_of(81);
  root = PathFromUtf8(long_root);
  ASSERT_TRUE(MakeBuilder().PathTooLong(error));
  EXPECT_EQ(error,
            "This folder's path is too long for Microsoft's Windows SDK installer (81 characters, "
            "at most 80): " +
                long_root +
                ". Move HalvornLauncher.exe to a short folder, such as C:\\Games\\Halvorn, and "
                "run it from there.");
}

TEST_F(BuildFilesTest, AReleasedLauncherOffersAnUpdateWhenAnotherVersionBuiltTheGame) {
  struct Case {
    bool in_place;
    std::string built;  // "" for none recorded
    bool ready;
  } cases[] = {
      {false, "", false}, {false, "v0.9", false}, {true, "", true},
      {true, "v0.9", true}, {true, "v1.0", false}, {true, "dev", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "in place " << c.in_place << ", built " << c.built);
    fs::remove_all(root);
    if (c.in_place) WriteFile(root / "play" / Exe(), "exe");
    Builder& b = MakeBuilder();
    if (!c.built.empty()) b.SetSetting("built", c.built);
    bool ready = !c.ready;
    std::string error;
    ASSERT_TRUE(b.CheckGameUpdate(ready, error)) << error;
    EXPECT_EQ(ready, c.ready);
    EXPECT_EQ(error, "");
  }
}

TEST_F(BuildFilesTest, StartGameLeavesTheGameRunningOnItsOwn) {
  const fs::path play = root / "play";
  fs::create_directories(play);
  fs::copy_file(TestProgram("child"), play / Exe());
  std::string error;
  ASSERT_TRUE(MakeBuilder().StartGame(error)) << error;
  // The stand-in game writes its working folder, then waits for "stop", which comes only now:
  // StartGame returned without waiting for it.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadFile(play / "started.txt").empty() && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string where = ReadFile(play / "started.txt");
  WriteFile(play / "stop", "");
  while (!fs::exists(play / "ended.txt") && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(where.empty()) << "the game did not start";
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(where), play)) << where;
}

TEST_F(BuildFilesTest, StartGameWithoutTheGameSaysWhy) {
  std::string error;
  EXPECT_FALSE(MakeBuilder().StartGame(error));
  EXPECT_EQ(error.rfind("Could not start the game (", 0), 0u) << error;
}

}  // namespace
}  // namespace launcher::test
