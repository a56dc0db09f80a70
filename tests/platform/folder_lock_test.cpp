#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/folder_lock.h"
#include "platform_fixture.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderLock::Outcome;

class FolderLockTest : public PlatformTest {
 protected:
  Outcome TakeAnother() {
    std::string error;
    FolderLock other;
    const Outcome outcome = other.Take(folder_, error);
    EXPECT_NE(outcome, Outcome::kFailed) << error;
    return outcome;
  }

  const fs::path folder_ = scratch_ / "Games" / "Halvorn";  // made by the first Take
};

TEST_F(FolderLockTest, ASecondHolderInThisProcessIsRefusedUntilTheFirstLetsGo) {
  std::string error;
  FolderLock first;
  ASSERT_EQ(first.Take(folder_, error), Outcome::kHeld) << error;
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(fs::is_regular_file(folder_ / kFolderLockName));

  FolderLock second;
  EXPECT_EQ(second.Take(folder_, error), Outcome::kHeldElsewhere);
  EXPECT_FALSE(second.held());

  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.Take(folder_, error), Outcome::kHeld) << error;
  // Taking again lets go of the lock held before, so the object never locks itself out.
  EXPECT_EQ(second.Take(folder_, error), Outcome::kHeld) << error;
  EXPECT_EQ(first.Take(folder_, error), Outcome::kHeldElsewhere);
}

// A launcher's hold on its folder can be told from another program's from the moment it has
// the lock, and only for that folder: the other folder beside it, or the same one once let go
// of, is held by no launcher.
TEST_F(FolderLockTest, AHoldingLauncherIsToldFromTheMomentItHoldsTheFolder) {
  std::string error;
  EXPECT_FALSE(FolderLockIsLauncher(folder_));
  FolderLock lock;
  ASSERT_EQ(lock.Take(folder_, error), Outcome::kHeld) << error;
  EXPECT_TRUE(FolderLockIsLauncher(folder_));
  const fs::path beside = scratch_ / "Games" / "Halvorn2";
  fs::create_directories(beside);
  EXPECT_FALSE(FolderLockIsLauncher(beside));
  lock.Release();
  EXPECT_FALSE(FolderLockIsLauncher(folder_));
}

TEST_F(FolderLockTest, AFolderThatCannotBeMadeFailsAndSaysWhy) {
  test::WriteFile(scratch_ / "Games", "a file where the folder belongs");
  FolderLock lock;
  std::string error;
  EXPECT_EQ(lock.Take(folder_, error), Outcome::kFailed);
  EXPECT_FALSE(lock.held());
  EXPECT_NE(error.find(PathToUtf8(folder_ / kFolderLockName)), std::string::npos) << error;
}

TEST_F(FolderLockTest, AnotherProcessIsRefusedWhileThisOneHolds) {
  std::string error;
  FolderLock lock;
  ASSERT_EQ(lock.Take(folder_, error), Outcome::kHeld) << error;
  EXPECT_EQ(RunChild({"lock", PathToUtf8(folder_)}), 0);
  EXPECT_EQ(lines_, std::vector<std::string>{"held elsewhere"});
}

// A holder that ends, normally or killed (SIGKILL to its process group on Linux, the end of its
// job object on Windows), lets the next one in; while it runs, this process is refused.
TEST_F(FolderLockTest, AHolderThatEndsOrIsKilledLetsTheNextOneIn) {
  struct Case {
    std::string name;
    bool killed;
  };
  for (const Case& c : std::vector<Case>{{"ends", false}, {"is killed", true}}) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> cancel{false};
    Outcome while_held = Outcome::kFailed;
    std::vector<std::string> lines;
    // The child that is killed would sleep for a minute; the one that ends waits a moment for
    // the check made while it holds.
    const std::string sleep_ms = c.killed ? "60000" : "2000";
    const int code = platform_->Run(
        {child_, "lock", PathToUtf8(folder_), "sleep", sleep_ms},
        {}, {},
        [&](const std::string& line) {
          lines.push_back(line);
          if (line != "locked") return;
          while_held = TakeAnother();
          if (c.killed) cancel = true;
        },
        &cancel);
    EXPECT_EQ(lines, std::vector<std::string>{"locked"});
    EXPECT_EQ(code, c.killed ? -1 : 0);
    EXPECT_EQ(while_held, Outcome::kHeldElsewhere);
    EXPECT_EQ(TakeAnother(), Outcome::kHeld);
  }
}

// A program the launcher runs (git, the tools) must not keep the folder locked once the
// launcher has let go: the lock is never inherited.
TEST_F(FolderLockTest, AChildOfPlatformRunDoesNotKeepTheLock) {
  std::string error;
  FolderLock lock;
  ASSERT_EQ(lock.Take(folder_, error), Outcome::kHeld) << error;
  std::atomic<bool> cancel{false};
  Outcome after_release = Outcome::kFailed;
  platform_->Run(
      {child_, "out", "ready\\n", "sleep", "60000"}, {}, {},
      [&](const std::string& line) {
        if (line != "ready") return;
        lock.Release();
        after_release = TakeAnother();
        cancel = true;
      },
      &cancel);
  EXPECT_EQ(after_release, Outcome::kHeld);
}

}  // namespace
}  // namespace launcher
