#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/folder_lock.h"
#include "platform_fixture.h"
#include "support/scratch.h"

namespace launcher {
namespace {

// A second launcher finds the holder through the ID in the lock file; anything else there (a
// file cut short, another program's text) names nobody.
TEST(FolderLockHolder, IsTheIdTheHolderWroteAndNobodyForAnythingElse) {
  test::ScratchDir scratch;
  EXPECT_EQ(FolderLockHolder(scratch.path()), 0u);  // no lock file
  {
    test::WriteFile(scratch / kFolderLockName, "4194304123");  // a longer ID left by a killed one
    FolderLock lock;
    std::string error;
    ASSERT_EQ(lock.Take(scratch.path(), error), FolderLock::Outcome::kHeld) << error;
    EXPECT_EQ(FolderLockHolder(scratch.path()), static_cast<std::uint64_t>(getpid()));
  }
  for (const std::string text : {"", "12x", "-5", "99999999999999999999999"}) {
    SCOPED_TRACE(text);
    test::WriteFile(scratch / kFolderLockName, text);
    EXPECT_EQ(FolderLockHolder(scratch.path()), 0u);
  }
}

// Only a process that has this folder's lock file open counts as its launcher, which a second
// launcher may signal; a lock held by something else (a plain `flock` command) under an ID that
// names a process without the file open, or nobody, counts as no launcher.
class FolderLockLauncherTest : public PlatformTest {
 protected:
  // Runs `command`, which prints "ready" once it holds the folder's lock, and returns what
  // FolderLockLauncher says meanwhile; the lock is checked to be held then.
  std::uint64_t WhileHeldBy(const std::vector<std::string>& command) {
    std::atomic<bool> cancel{false};
    std::uint64_t launcher = 1;
    platform_->Run(
        command, {}, {},
        [&](const std::string& line) {
          if (line != "ready") return;
          FolderLock other;
          std::string error;
          EXPECT_EQ(other.Take(folder_, error), FolderLock::Outcome::kHeldElsewhere) << error;
          launcher = FolderLockLauncher(folder_);
          cancel = true;
        },
        &cancel);
    EXPECT_NE(launcher, 1u) << "the holder never said it was ready";
    return launcher;
  }

  const std::filesystem::path folder_ = scratch_.path();
  const std::string lock_file_ = PathToUtf8(folder_ / kFolderLockName);
};

TEST_F(FolderLockLauncherTest, IsTheHolderThatHasTheLockFileOpen) {
  const std::uint64_t launcher =
      WhileHeldBy({child_, "lock", PathToUtf8(folder_), "out", "ready\\n", "sleep", "60000"});
  EXPECT_NE(launcher, 0u);
  EXPECT_NE(launcher, static_cast<std::uint64_t>(getpid()));
  EXPECT_EQ(FolderLockLauncher(folder_), 0u);  // it has ended; its ID is still in the file
  EXPECT_NE(FolderLockHolder(folder_), 0u);
}

TEST_F(FolderLockLauncherTest, IsNobodyUnderALockAPlainFlockHolds) {
  struct Case {
    std::string name;
    std::string id;  // what the lock file says
  };
  const std::vector<Case> cases = {
      // This test's own process: alive, but without the lock file open (its number could be
      // anyone's in another PID namespace).
      {"a live process that is no launcher", std::to_string(getpid())},
      {"an ID above every process number", "4194305"},
      {"no ID", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(folder_ / kFolderLockName, c.id);
    EXPECT_EQ(WhileHeldBy({"flock", lock_file_, child_, "out", "ready\\n", "sleep", "60000"}),
              0u);
    EXPECT_EQ(FolderLockHolder(folder_), c.id.empty() ? 0u : std::stoull(c.id));
  }
}

}  // namespace
}  // namespace launcher
