// An entry of the play folder that cannot move while something holds it: here a mount point,
// which refuses to be renamed ("busy") the way Windows refuses to move a file that a running
// game holds open, until the test lets go. "videos" sorts last, so everything else has moved by
// the time it is tried.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/swap_fixture.h"
#include "support/scratch.h"
#include "tmpfs_mount.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

const char kBusy[] = "Device or resource busy";

// One try a second: the entry moves at the first try after it is released.
TEST_F(SwapTest, AFolderHeldBusyIsSwappedOnceItIsReleased) {
  auto busy = std::make_unique<TmpfsMount>(Play() / "videos", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();
  on_log = [&](const std::string& line) {
    if (line == std::string("replace: videos, try 3: ") + kBusy) busy->Unmount();
  };
  const auto start = std::chrono::steady_clock::now();
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 2.9);  // three waits of one second
  ASSERT_EQ(log.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(log[i], "replace: videos, try " + std::to_string(i + 1) + ": " + kBusy);
  }
  ASSERT_EQ(statuses.size(), 3u);
  for (const Status& status : statuses) {
    EXPECT_EQ(status.title, "Putting the new version in place");
    EXPECT_EQ(status.detail, "Waiting for Windows to let go of videos");
    EXPECT_DOUBLE_EQ(status.fraction, -1);
  }
  ExpectTheNewVersionWhole();
}

// The retries run out: every entry that had moved goes back, the old version is whole and the
// staging folder holds the package with its stamp, so that pressing Update again only retries
// the moves.
TEST_F(SwapTest, AFolderThatStaysBusyPutsTheOldVersionBack) {
  auto busy = std::make_unique<TmpfsMount>(Play() / "videos", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();
  builder->replace_retry = {3, std::chrono::milliseconds(1)};
  builder->retry_button = "Update again";  // as the Game page's Update sets it
  std::string err;
  EXPECT_FALSE(builder->ReplaceGame(Next(), err));
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(statuses.size(), 2u);
  EXPECT_EQ(err, std::string("Could not put videos in place (is the game still running, or an "
                             "antivirus scanning it?): ") +
                     kBusy + ". Press Update again to retry; see launcher.log");
  EXPECT_TRUE(builder->IsGameInPlace());
  busy->Unmount();
  ExpectTheOldVersionWhole();

  builder->replace_retry = {};
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  ExpectTheNewVersionWhole();
}

TEST_F(SwapTest, AStopAfterAFailedTryPutsTheOldVersionBack) {
  TmpfsMount busy(Play() / "videos", 1048576);
  if (!busy.ok()) GTEST_SKIP() << busy.reason();
  builder->replace_retry = {1000, std::chrono::milliseconds(1)};
  on_log = [&](const std::string&) { builder->cancel = true; };
  std::string err;
  EXPECT_FALSE(builder->ReplaceGame(Next(), err));
  EXPECT_EQ(err.rfind("Could not put videos in place", 0), 0u) << err;
  EXPECT_EQ(log.size(), 1u);
  EXPECT_TRUE(statuses.empty());
  busy.Unmount();
  ExpectTheOldVersionWhole();
}

// A start that cannot finish an ended swap leaves it as it is, and the game does not count as
// in place; the next swap finishes it, patiently.
TEST_F(SwapTest, AnEndedSwapTheStartCannotFinishWaitsForTheNextInstall) {
  Swap("package.stamp");
  Swap(Exe());
  Swap("Halvorn.dll");
  auto busy = std::make_unique<TmpfsMount>(Play() / "videos", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();
  MakeBuilder();
  EXPECT_TRUE(fs::exists(Aside()));
  EXPECT_FALSE(builder->IsGameInPlace());
  const std::vector<std::string> logged = LogFileLines();  // the start has no log sink yet
  EXPECT_NE(std::find(logged.begin(), logged.end(), std::string("replace: videos, try 1: ") + kBusy),
            logged.end());
  EXPECT_TRUE(fs::exists(Next() / "videos"));

  builder->replace_retry.wait = std::chrono::milliseconds(10);
  on_log = [&](const std::string& line) {
    if (line.rfind("replace: videos, try 2", 0) == 0) busy->Unmount();
  };
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  ExpectTheNewVersionWhole();
  EXPECT_TRUE(builder->IsGameInPlace());
}

}  // namespace
}  // namespace launcher::test
