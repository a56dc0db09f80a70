// A staged folder whose namesake in the play folder cannot be removed while something holds it:
// here a mount point inside it, which refuses removal ("busy") the way Windows refuses to
// delete a file that a running game holds open, until the test lets go.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"
#include "tmpfs_mount.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST_F(BuilderTest, AFolderHeldBusyIsReplacedOnceItIsReleased) {
  const fs::path play = root / "play";
  const fs::path next = play / ".next";
  WriteFile(next / "bin" / "new.dll", "new");
  WriteFile(play / "bin" / "old.dll", "old");
  auto busy = std::make_unique<TmpfsMount>(play / "bin" / "busy", 1048576);
  if (!busy->ok()) GTEST_SKIP() << busy->reason();

  Builder& b = MakeBuilder();
  b.replace_retry.wait = std::chrono::milliseconds(10);
  int tries = 0;
  on_log = [&](const std::string& line) {
    if (line.rfind("replace: bin, try ", 0) == 0 && ++tries == 3) busy->Unmount();
  };
  std::string err;
  ASSERT_TRUE(b.ReplaceGame(next, err)) << err;
  EXPECT_EQ(tries, 3);
  EXPECT_EQ(log[0], "replace: bin, try 1: Device or resource busy");
  EXPECT_EQ(statuses.size(), 3u);
  EXPECT_EQ(ReadFile(play / "bin" / "new.dll"), "new");
  EXPECT_FALSE(fs::exists(play / "bin" / "old.dll"));
  EXPECT_FALSE(fs::exists(play / "bin" / "busy"));
}

TEST_F(BuilderTest, AFolderThatStaysBusyEndsWithTheSystemsText) {
  const fs::path play = root / "play";
  const fs::path next = play / ".next";
  WriteFile(next / "bin" / "new.dll", "new");
  TmpfsMount busy(play / "bin" / "busy", 1048576);
  if (!busy.ok()) GTEST_SKIP() << busy.reason();
  Builder& b = MakeBuilder();
  b.replace_retry = {3, std::chrono::milliseconds(1)};
  std::string err;
  EXPECT_FALSE(b.ReplaceGame(next, err));
  EXPECT_EQ(err, "Could not put bin in place (is the game still running, or an antivirus "
                 "scanning it?): Device or resource busy. Press Update again to retry; see "
                 "launcher.log");
  EXPECT_EQ(ReadFile(next / "bin" / "new.dll"), "new");
}

}  // namespace
}  // namespace launcher::test
