// What Platform does on POSIX systems beyond the portable tests: error texts from errno, exact
// environment names, msiextract's exit code 0 not taken on trust, a tree that ends with the run
// even where it left the child's session, and a game that is never left as a zombie.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform_fixture.h"
#include "support/scratch.h"
#include "support/system_state.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

using PosixPlatformTest = PlatformTest;

TEST_F(PosixPlatformTest, LastErrorTextReadsErrno) {
  errno = ENOENT;
  EXPECT_EQ(LastErrorText("cannot open x"), "cannot open x (2: No such file or directory)");
  errno = EACCES;
  EXPECT_EQ(LastErrorText("cannot write y"), "cannot write y (13: Permission denied)");
  errno = 123456;  // no system text for it
  EXPECT_EQ(LastErrorText("odd"), "odd (123456)");
}

TEST_F(PosixPlatformTest, EnvironmentNamesAreExact) {
  test::ScopedEnv upper("LAUNCHER_TEST_CASE", "upper");
  EXPECT_EQ(platform_->Run({child_, "env", "launcher_test_case"}, {},
                           {{"launcher_test_case", "lower"}}, Collect(), nullptr),
            0);
  EXPECT_THAT(lines_, UnorderedElementsAre("LAUNCHER_TEST_CASE=upper", "launcher_test_case=lower"));
}

TEST_F(PosixPlatformTest, ProgramsAreFoundThroughPathOrFromTheLaunchersFolder) {
  EXPECT_EQ(platform_->Run({"sh", "-c", "echo found"}, {}, {}, Collect(), nullptr), 0);
  EXPECT_THAT(lines_, ElementsAre("found"));

  // A relative path names a file from the launcher's own folder, not from the child's.
  fs::copy_file(child_, scratch_ / "tool");
  fs::create_directory(scratch_ / "sub");
  const fs::path before = fs::current_path();
  fs::current_path(scratch_.path());
  lines_.clear();
  const int code = platform_->Run({"./tool", "out", "ran"}, scratch_ / "sub", {}, Collect(), nullptr);
  fs::current_path(before);
  EXPECT_EQ(code, 0);
  EXPECT_THAT(lines_, ElementsAre("ran"));
}

TEST_F(PosixPlatformTest, ChildEndedByASignalGivesOneHundredTwentyEightPlusTheSignal) {
  EXPECT_EQ(platform_->Run({"sh", "-c", "kill -9 $$"}, {}, {}, Collect(), nullptr), 128 + 9);
}

TEST_F(PosixPlatformTest, WorkingFolderThatDoesNotExistCannotStart) {
  EXPECT_EQ(platform_->Run({child_, "cwd"}, scratch_ / "missing", {}, Collect(), nullptr), -1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_THAT(lines_[0], HasSubstr("cannot start "));
  EXPECT_THAT(lines_[0], HasSubstr("(2: No such file or directory)"));
}

// A process that leaves the child's group and session (setsid, as daemons do) is still part of
// the run's tree: cancel stops it, and the end of the run ends it, whether or not it holds the
// output. Every process of the tree is reaped too, so nothing is left for the launcher to wait
// for.
TEST_F(PosixPlatformTest, AProcessInANewSessionDoesNotOutliveTheRun) {
  using Clock = std::chrono::steady_clock;
  struct Case {
    const char* name;
    bool cancel;
    std::vector<std::string> grandchild;
  };
  const std::vector<Case> cases = {
      {"holds the output, cancelled", true, {"new-session", "sleep", "60000"}},
      {"lets go of the output", false, {"new-session", "close-output", "sleep", "60000"}},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    const fs::path pid_file = scratch_ / "grandchild.pid";
    fs::remove(pid_file);
    std::vector<std::string> args = {child_, "spawn", PathToUtf8(pid_file),
                                     std::to_string(one.grandchild.size())};
    args.insert(args.end(), one.grandchild.begin(), one.grandchild.end());
    for (const char* more : {"sleep", "100", "out", "ready\\n", "exit", "3"}) args.push_back(more);
    std::atomic<bool> cancel{false};
    const Clock::time_point started = Clock::now();
    const int code = platform_->Run(
        args, {}, {},
        [&](const std::string& line) {
          if (line == "ready" && one.cancel) cancel = true;
        },
        &cancel);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    EXPECT_EQ(code, one.cancel ? -1 : 3);
    EXPECT_LT(took.count(), 10000) << "the run waited for the process in the new session";
    const std::string pid = test::ReadFile(pid_file);
    ASSERT_FALSE(pid.empty());
    EXPECT_FALSE(test::IsProcessRunning(std::stoull(pid)));
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
}

// msiextract ends with 0 even when it unpacked nothing; a stand-in that does just that (and
// records its arguments) shows the layer does not report it as success.
TEST_F(PosixPlatformTest, ExtractMsiWantsFilesNotJustExitCodeZero) {
  const fs::path bin = scratch_ / "bin";
  fs::create_directory(bin);
  fs::copy_file(child_, bin / "msiextract");
  test::ScopedEnv path("PATH", PathToUtf8(bin) + ":" + test::GetEnvValue("PATH").value_or(""));
  const fs::path record = scratch_ / "arguments.txt";
  test::ScopedEnv record_env("LAUNCHER_TEST_FAKE_RECORD", PathToUtf8(record));

  const fs::path msi = scratch_ / "downloads" / "sdk.msi";
  test::WriteFile(msi, "not really a package");
  const fs::path target = scratch_ / "tools" / "winsdk";
  const fs::path log = scratch_ / "tools" / "sdk.msiexec.log";
  for (const char* code : {"0", "2"}) {
    SCOPED_TRACE(code);
    test::ScopedEnv exit_code("LAUNCHER_TEST_FAKE_EXIT", code);
    std::string error;
    EXPECT_FALSE(platform_->ExtractMsi(msi, target, error));
    EXPECT_EQ(error, "Could not extract sdk.msi (msiextract " + std::string(code) + ", see " +
                         PathToUtf8(log) + ")");
    EXPECT_EQ(test::ReadFile(record), "-C\n" + PathToUtf8(target) + "\n" + PathToUtf8(msi) + "\n");
    if (std::string(code) == "0") {
      EXPECT_EQ(test::ReadFile(log), "msiextract unpacked no file\n") << "the log says why";
    }
  }
}

TEST_F(PosixPlatformTest, ExtractMsiWritesTheToolsOutputToTheLog) {
  const fs::path downloads = scratch_ / "downloads";
  fs::create_directories(downloads);
  for (const char* name : {"test package.msi", "files.cab"}) {
    fs::copy_file(test::SelfPath().parent_path() / "fixtures" / "msi" / name, downloads / name);
  }
  std::string error;
  ASSERT_TRUE(platform_->ExtractMsi(downloads / "test package.msi", scratch_ / "tools" / "t", error))
      << error;
  const std::string log = test::ReadFile(scratch_ / "tools" / "test package.msiexec.log");
  EXPECT_THAT(log, HasSubstr("hello.txt\n"));
  EXPECT_THAT(log, HasSubstr("world.txt\n"));
}

// msiextract writes what the cabinet holds and ends with 0 when the cabinet lacks a file the
// package names: the layer checks the package's File table itself.
TEST_F(PosixPlatformTest, ExtractMsiFailsWhenTheCabinetLacksAFile) {
  const fs::path fixtures = test::SelfPath().parent_path() / "fixtures" / "msi";
  const fs::path downloads = scratch_ / "downloads";
  fs::create_directories(downloads);
  fs::copy_file(fixtures / "test package.msi", downloads / "test package.msi");
  fs::copy_file(fixtures / "partial" / "files.cab", downloads / "files.cab");
  const fs::path target = scratch_ / "tools" / "t";
  const fs::path log = scratch_ / "tools" / "test package.msiexec.log";
  std::string error;
  EXPECT_FALSE(platform_->ExtractMsi(downloads / "test package.msi", target, error));
  EXPECT_EQ(error,
            "Could not extract test package.msi (msiextract 0, see " + PathToUtf8(log) + ")");
  EXPECT_THAT(test::ReadFile(log), HasSubstr("msiextract did not write world.txt\n"));
  EXPECT_THAT(test::ReadFile(log), Not(HasSubstr("did not write hello.txt")));
}

TEST_F(PosixPlatformTest, StartedGameIsNoChildOfTheLauncher) {
  const fs::path folder = scratch_ / "play";
  fs::create_directory(folder);
  std::string error;
  ASSERT_TRUE(platform_->StartGame(test::TestProgram("child"), folder, error)) << error;
  // Nothing is left for the launcher to wait for: not the middle process, not the game.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  test::WriteFile(folder / "stop", "");
  for (int i = 0; i < 1000 && !fs::exists(folder / "ended.txt"); ++i) usleep(20000);
}

}  // namespace
}  // namespace launcher
