// Sizes and removals with links in the way, and removals the system refuses (Linux, as root:
// a read-only tmpfs stands in for a locked file).
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"
#include "tmpfs_mount.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class BuildFilesPosixTest : public BuilderTest {
 protected:
  void SetUp() override { game.package = "Halvorn-windows.zip"; }
};

TEST_F(BuildFilesPosixTest, LinksBelowTheListedPathsAreNeitherSizedNorEnteredNorFollowed) {
  // Someone else's files, reached through links from everywhere the sizes look.
  const fs::path elsewhere = scratch / "elsewhere";
  WriteFile(elsewhere / "big.bin", std::string(100000, 'e'));
  WriteFile(elsewhere / "small.bin", std::string(10, 'e'));

  WriteFile(root / "tools" / "cmake" / "bin" / "cmake", std::string(1000, 'c'));
  fs::create_directory_symlink(elsewhere, root / "tools" / "cmake" / "share");
  fs::create_symlink(elsewhere / "big.bin", root / "tools" / "cmake" / "big.bin");
  // A tool folder that is itself a link is listed, and what lies beneath it counts once.
  fs::create_directories(scratch / "linked-tool" / "inner");
  WriteFile(scratch / "linked-tool" / "inner" / "tool.bin", std::string(30, 't'));
  fs::create_directory_symlink(elsewhere, scratch / "linked-tool" / "inner" / "loop");
  fs::create_directory_symlink(scratch / "linked-tool", root / "tools" / "linked");
  fs::create_directory_symlink(elsewhere, root / "tools" / "ffmpeg");
  WriteFile(root / "source" / "out" / "obj.o", std::string(400, 'o'));
  fs::create_directory_symlink(elsewhere, root / "source" / "out" / "junction");
  fs::create_directories(root / "play" / "compiler");
  fs::create_directory_symlink(elsewhere, root / "play" / "compiler" / "work");

  Builder& b = MakeBuilder();
  // The symbolic links inside the listed paths take no room of their own here either.
  EXPECT_EQ(b.ToolsSize(), 1000u + 30 + 400);
  EXPECT_EQ(b.BuildFilesSize(), 100010u);  // the build-files folder itself is followed

  std::string error;
  ASSERT_TRUE(b.RemoveTools(error)) << error;
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "tools" / "linked")));
  EXPECT_FALSE(fs::exists(root / "tools" / "cmake"));
  EXPECT_FALSE(fs::exists(root / "source"));
  EXPECT_TRUE(fs::is_symlink(root / "tools" / "ffmpeg"));
  EXPECT_EQ(ReadFile(elsewhere / "big.bin").size(), 100000u);
  EXPECT_EQ(ReadFile(scratch / "linked-tool" / "inner" / "tool.bin").size(), 30u);

  ASSERT_TRUE(b.RemoveBuildFiles(error)) << error;
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "play" / "compiler" / "work")));
  EXPECT_EQ(ReadFile(elsewhere / "small.bin").size(), 10u);
}

// Mounts a tmpfs at `where` holding one file, then makes it read-only.
std::string ReadOnlyFolder(TmpfsMount& mount, const fs::path& where) {
  if (!mount.ok()) return mount.reason();
  WriteFile(where / "held.bin", "held");
  if (::mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    return "cannot make the tmpfs read-only";
  }
  return "";
}

TEST_F(BuildFilesPosixTest, ARefusedRemovalStopsTheRestAndSaysWhy) {
  WriteFile(root / "tools" / "cmake" / "bin" / "cmake", "cmake");
  WriteFile(root / "source" / "CMakeLists.txt", "project");
  WriteFile(root / "agreed.txt", "licence");
  TmpfsMount mount(root / "downloads", 1 << 20);
  const std::string why = ReadOnlyFolder(mount, root / "downloads");
  if (!why.empty()) GTEST_SKIP() << why;

  std::string error;
  EXPECT_FALSE(MakeBuilder().RemoveTools(error));
  EXPECT_EQ(error, "Could not remove " + PathToUtf8(root / "downloads") +
                       ": Read-only file system");
  EXPECT_FALSE(fs::exists(root / "tools" / "cmake"));
  EXPECT_FALSE(fs::exists(root / "source"));
  EXPECT_TRUE(fs::exists(root / "downloads" / "held.bin"));
  EXPECT_TRUE(fs::exists(root / "agreed.txt"));
  EXPECT_TRUE(Logged("removed " + PathToUtf8(root / "source")));
  EXPECT_FALSE(Logged("removed " + PathToUtf8(root / "downloads")));
}

TEST_F(BuildFilesPosixTest, RefusedBuildFilesSayWhy) {
  const fs::path work = root / "play" / "compiler" / "work";
  TmpfsMount mount(work, 1 << 20);
  const std::string why = ReadOnlyFolder(mount, work);
  if (!why.empty()) GTEST_SKIP() << why;
  std::string error;
  EXPECT_FALSE(MakeBuilder().RemoveBuildFiles(error));
  EXPECT_EQ(error, "Could not remove the build files: Read-only file system");
}

}  // namespace
}  // namespace launcher::test
