// An update whose swap cannot finish: a folder of the installed game is held busy (a mount point
// cannot be renamed, as Windows cannot move a file that the running game holds open).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "builder/package_fixture.h"
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

}  // namespace
}  // namespace launcher::test
