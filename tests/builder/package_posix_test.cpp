// An update whose swap cannot finish: a folder of the installed game is held busy (a mount point
// cannot be renamed, as Windows cannot move a file that the running game holds open).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "builder/package_fixture.h"
#include "platform/progress.h"
#include "builder/tmpfs_mount.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

// The install fails with the old version whole and the staging folder kept with its stamp;
// pressing Update again prepares the code once more and only retries the moves.
TEST_F(BuilderPackageTest, AnUpdateThatCannotSwapKeepsTheOldVersionAndRetriesOnlyTheMoves) {
  ASSERT_TRUE(ChooseTheDisc());
  ASSERT_TRUE(Build()) << err;
  const auto installed = FilesUnder(Play());
  PublishGameWith({{"bin/data.bin", "the new data"}, {"zz/new.txt", "new"}});

  auto busy = std::make_unique<TmpfsMount>(Play() / "bin", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();
  // A stop while the swap waits for the held folder is a stop like any other.
  builder->replace_retry = {1000, std::chrono::minutes(10)};
  StopWhen([](const Status& s) { return s.title == "Putting the new version in place"; });
  EXPECT_FALSE(Build());
  EXPECT_EQ(err, kCancelled);
  EXPECT_EQ(builder->package_step, 0);
  for (const std::string& line : log) EXPECT_NE(line.rfind("build stopped", 0), 0u) << line;
  EXPECT_TRUE(StageLine("replace the game").ends_with(" (stopped)"));
  on_status = nullptr;

  builder->replace_retry = {2, std::chrono::milliseconds(1)};
  builder->retry_button = "Update again";  // as the Game page's Update sets it
  EXPECT_FALSE(Build());
  EXPECT_EQ(err, "Could not put bin in place (is the game still running, or an antivirus "
                 "scanning it?): Device or resource busy. Press Update again to retry; see "
                 "launcher.log");
  EXPECT_EQ(log.back(), "build stopped: " + err);
  EXPECT_EQ(builder->package_step, 0);
  busy->Unmount();
  EXPECT_TRUE(builder->IsGameInPlace());
  auto after = FilesUnder(Play());
  std::erase_if(after, [](const auto& file) { return file.first.rfind(".next/", 0) == 0; });
  EXPECT_EQ(after, installed);
  EXPECT_EQ(ReadFile(Next() / "package.stamp"), published_sha256);
  EXPECT_EQ(ReadFile(Next() / "zz" / "new.txt"), "new");
  EXPECT_FALSE(fs::exists(Play() / ".aside"));

  builder->replace_retry = {};
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(StageLines("package unpack"), 0);
  EXPECT_EQ(StageLines("compile game code"), 1);
  EXPECT_EQ(ReadFile(Play() / "bin" / "data.bin"), "the new data");
  EXPECT_EQ(ReadFile(Play() / "zz" / "new.txt"), "new");
  EXPECT_TRUE(builder->IsGameInPlace());
}

// A start that cannot finish an ended swap (here "bin" held busy) keeps what it tried for the
// Game page; once the folder is free, the install finishes the moves and ends there: no
// download, no unpack, no code preparation, and the new version is recorded.
TEST_F(BuilderPackageTest, AnUpdateEndedDuringItsSwapIsFinishedByTheNextInstallAlone) {
  ASSERT_TRUE(ChooseTheDisc());
  ASSERT_TRUE(Build()) << err;
  const std::string v11 = "/owner/halvorn/releases/download/v1.1/" + kPackage;
  const fs::path zip = scratch / "v1.1" / kPackage;
  fs::create_directories(zip.parent_path());
  WriteZip(zip, {{Exe(), game_bytes, false, true, 0755}, {"bin/data.bin", "the new data"}});
  Publish(zip, "", v11);
  game.launcher_version = "v1.1";
  MakeBuilder();
  Script("dll\nexit 3\n");  // the package staged and prepared; the install ends there
  EXPECT_FALSE(Build());
  fs::remove(root / "fake_game.txt");
  // Ended once the stamp and the game had moved.
  fs::create_directories(Play() / ".aside");
  for (const std::string& entry : {std::string("package.stamp"), Exe()}) {
    fs::rename(Play() / entry, Play() / ".aside" / entry);
    fs::rename(Next() / entry, Play() / entry);
  }
  auto busy = std::make_unique<TmpfsMount>(Play() / "bin", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();
  MakeBuilder();
  EXPECT_FALSE(builder->IsGameInPlace());
  EXPECT_EQ(builder->HeldSwap().version, "v1.1");
  EXPECT_EQ(builder->HeldSwap().entry, "bin");
  EXPECT_EQ(Setting("built"), "v1.0");

  busy->Unmount();
  ASSERT_TRUE(Build()) << err;
  EXPECT_TRUE(Logged("the update to v1.1 that was ended during its swap is finished"));
  for (const char* stage :
       {"package download", "package unpack", "compile game code", "replace the game"}) {
    EXPECT_EQ(StageLines(stage), 0) << stage;
  }
  EXPECT_EQ(server.Count(v11), 1);
  EXPECT_EQ(Setting("built"), "v1.1");
  EXPECT_EQ(ReadFile(Play() / "bin" / "data.bin"), "the new data");
  EXPECT_EQ(ReadFile(Play() / "package.stamp"), published_sha256);
  EXPECT_FALSE(fs::exists(Next()));
  EXPECT_FALSE(fs::exists(Play() / ".aside"));
  EXPECT_EQ(builder->package_step, 4);
  EXPECT_TRUE(builder->IsGameInPlace());
  EXPECT_TRUE(builder->HeldSwap().entry.empty());
  bool update_ready = true;
  ASSERT_TRUE(builder->CheckGameUpdate(update_ready, err)) << err;
  EXPECT_FALSE(update_ready);
}

}  // namespace
}  // namespace launcher::test
