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
#include "platform/file_ops.h"
#include "platform/progress.h"
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
    EXPECT_EQ(status.detail, "Waiting for the system to let go of videos");
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

// A stop as a try fails, or during the wait for the next one (which it cuts short), is a stop
// like any other: "cancelled", once the old version is back.
TEST_F(SwapTest, AStopWhileWaitingForAHeldEntryPutsTheOldVersionBack) {
  const struct {
    const char* name;
    bool at_the_try;  // else during the wait after it
  } cases[] = {{"a stop as the try fails", true}, {"a stop during the wait", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    log.clear();
    statuses.clear();
    auto busy = std::make_unique<TmpfsMount>(Play() / "videos", 1048576);
    if (!busy->ok()) GTEST_SKIP() << busy->reason();
    builder->replace_retry = {1000, std::chrono::minutes(10)};
    on_log = [&](const std::string&) {
      if (c.at_the_try) builder->cancel = true;
    };
    on_status = [&](const Status&) { builder->cancel = true; };
    std::string err;
    EXPECT_FALSE(builder->ReplaceGame(Next(), err));
    EXPECT_EQ(err, kCancelled);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(statuses.size(), c.at_the_try ? 0u : 1u);
    busy->Unmount();
    ExpectTheOldVersionWhole();
    builder->cancel = false;
    on_log = nullptr;
    on_status = nullptr;
    busy.reset();
    fs::remove_all(root);
  }
}

// A file of the old version that cannot be removed once the new one is in place (here a mount
// point, held busy from the moment everything has moved) leaves with the rest of .aside under a
// name of its own: the next install neither waits for it nor takes it for a swap begun, and a
// later start removes it once it can go.
TEST_F(SwapTest, WhatTheOldVersionCannotRemoveNeverBlocksTheNextInstall) {
  std::unique_ptr<TmpfsMount> held;
  builder->disk_flush.folder = [&](const fs::path& play, std::string& why) {
    if (!held) held = std::make_unique<TmpfsMount>(Aside() / "videos", 1048576);
    return FlushFolder(play, why);
  };
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  if (!held->ok()) GTEST_SKIP() << held->reason();
  const fs::path kept = Play() / ".aside-2";
  ExpectTheNewVersionWhole();
  EXPECT_EQ(log, std::vector<std::string>{std::string("Could not remove the old version's videos: ") +
                                          kBusy});
  EXPECT_TRUE(fs::is_directory(kept / "videos"));
  EXPECT_FALSE(fs::exists(kept / Exe())) << "what could go went";
  EXPECT_TRUE(builder->IsGameInPlace());

  // The next update swaps at once, with the patience of a real install.
  builder->disk_flush = {FlushFilesBeneath, FlushFolder};
  for (const char* name : {"readme.txt", "added.txt"}) WriteFile(Next() / name, "newer");
  log.clear();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(log.empty()) << log.front();
  EXPECT_EQ(ReadFile(Play() / "readme.txt"), "newer");
  EXPECT_FALSE(EntryExists(Aside()));

  // A start while it is still held keeps it and says so; the first one after it can go
  // removes it.
  MakeBuilder();
  EXPECT_TRUE(fs::is_directory(kept / "videos"));
  EXPECT_TRUE(builder->IsGameInPlace());
  const std::vector<std::string> logged = LogFileLines();
  EXPECT_EQ(logged.back(), std::string("Could not remove the old version's videos: ") + kBusy);
  ASSERT_EQ(umount2((kept / "videos").c_str(), MNT_DETACH), 0);
  MakeBuilder();
  EXPECT_FALSE(EntryExists(kept));
  EXPECT_EQ(LogFileLines().size(), logged.size());
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
  EXPECT_EQ(builder->HeldSwap().version, "v1.1");
  EXPECT_EQ(builder->HeldSwap().entry, "videos");
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
  EXPECT_TRUE(builder->HeldSwap().entry.empty());
}

}  // namespace
}  // namespace launcher::test
