// Fetching the game's source with the system's git: a repository made here (a branch, the
// launcher's version tag and a submodule), cloned over file://.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class SourceGitTest : public BuilderTest {
 protected:
  void SetUp() override {
    if (std::system("command -v git >/dev/null 2>&1") != 0) GTEST_SKIP() << "git is missing";
    // git refuses file:// submodules unless told otherwise, and commits need a name; both come
    // from a configuration of the test's own, which the Builder's git inherits.
    WriteFile(scratch / "gitconfig",
              "[user]\n\tname = Tests\n\temail = tests@example.invalid\n"
              "[protocol \"file\"]\n\tallow = always\n[init]\n\tdefaultBranch = main\n");
    setenv("GIT_CONFIG_GLOBAL", (scratch / "gitconfig").c_str(), 1);
    setenv("GIT_CONFIG_NOSYSTEM", "1", 1);

    Shell("git init -q lib && cd lib && echo lib1 > lib.txt && git add . && git commit -qm lib");
    Shell(
        "git init -q game && cd game && echo one > game.txt && git add . && "
        "git -c protocol.file.allow=always submodule add -q " +
        Url("lib") +
        " lib && "
        "git commit -qm one && git tag v1.0 && git checkout -qb develop && "
        "echo dev > dev.txt && git add . && git commit -qm dev && git checkout -q main");
    game.repo = Url("game");
    game.branch = "develop";
  }

  void TearDown() override {
    unsetenv("GIT_CONFIG_GLOBAL");
    unsetenv("GIT_CONFIG_NOSYSTEM");
  }

  std::string Url(const std::string& name) { return "file://" + (scratch / name).string(); }

  void Shell(const std::string& command) {
    const std::string line =
        "cd '" + scratch.path().string() + "' && (" + command + ") >shell.log 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << ReadFile(scratch / "shell.log");
  }

  fs::path Source() { return root / "source"; }

  std::string err;
};

TEST_F(SourceGitTest, ABranchIsClonedWithItsSubmodulesThenFollowed) {
  game.launcher_version = "dev";
  MakeBuilder();
  ASSERT_TRUE(builder->FetchSource(err)) << err;
  EXPECT_EQ(ReadFile(Source() / "dev.txt"), "dev\n");
  EXPECT_EQ(ReadFile(Source() / "lib" / "lib.txt"), "lib1\n");
  bool progress = false;
  for (const Status& status : statuses) progress = progress || status.fraction > 0;
  EXPECT_TRUE(progress) << "no progress line of git's became a report";

  // A new commit on the branch, a local change, and a new submodule commit.
  Shell("cd lib && echo lib2 > lib.txt && git commit -qam lib2");
  Shell(
      "cd game && git checkout -q develop && echo dev2 > dev.txt && "
      "git -C lib pull -q && git commit -qam dev2 && git checkout -q main");
  WriteFile(Source() / "game.txt", "changed here");
  ASSERT_TRUE(builder->FetchSource(err)) << err;
  EXPECT_EQ(ReadFile(Source() / "dev.txt"), "dev2\n");
  EXPECT_EQ(ReadFile(Source() / "game.txt"), "one\n");
  EXPECT_EQ(ReadFile(Source() / "lib" / "lib.txt"), "lib2\n");
}

TEST_F(SourceGitTest, AReleasedLauncherBuildsItsTagEvenWhenTheTagMoves) {
  game.launcher_version = "v1.0";
  MakeBuilder();
  ASSERT_TRUE(builder->FetchSource(err)) << err;
  EXPECT_EQ(ReadFile(Source() / "game.txt"), "one\n");
  EXPECT_FALSE(fs::exists(Source() / "dev.txt"));

  Shell("cd game && echo retagged > game.txt && git commit -qam retag && git tag -f v1.0");
  ASSERT_TRUE(builder->FetchSource(err)) << err;
  EXPECT_EQ(ReadFile(Source() / "game.txt"), "retagged\n");
}

TEST_F(SourceGitTest, AMissingRepositoryFailsTheClone) {
  game.repo = Url("nowhere");
  game.launcher_version = "dev";
  MakeBuilder();
  EXPECT_FALSE(builder->FetchSource(err));
  EXPECT_EQ(err, "git clone failed (128), see launcher.log");
  bool reason = false;
  for (const std::string& line : log) reason = reason || line.starts_with("git: fatal: ");
  EXPECT_TRUE(reason);
}

}  // namespace
}  // namespace launcher::test
