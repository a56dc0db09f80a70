// The file helpers that stand between the core and the system's file calls.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST(FileOps, ReadWholeFileGivesRawBytesAndLeavesTheOutputOnFailure) {
  ScratchDir scratch;
  WriteFile(scratch / "bytes", std::string("a\r\nb\0c", 6));
  WriteFile(scratch / "empty", "");
  fs::create_directories(scratch / "folder" / "inside");

  std::string out = "old";
  EXPECT_TRUE(ReadWholeFile(scratch / "bytes", out));
  EXPECT_EQ(out, std::string("a\r\nb\0c", 6));
  EXPECT_TRUE(ReadWholeFile(scratch / "empty", out));
  EXPECT_EQ(out, "");

  // A folder opens as a file on Linux and fails only at the first read.
  for (const fs::path& unreadable : {scratch / "missing", scratch / "folder", fs::path()}) {
    out = "old";
    EXPECT_FALSE(ReadWholeFile(unreadable, out)) << unreadable;
    EXPECT_EQ(out, "old") << unreadable;
  }
}

// The swap's two flushes: they succeed on the files and folders a staging folder holds,
// and say why they cannot on a folder that is not there.
TEST(FileOps, FlushesReachTheDiskOrSayWhyNot) {
  ScratchDir scratch;
  WriteFile(scratch / "staged" / "game", "the game");
  WriteFile(scratch / "staged" / "bin" / "a.bin", "a");
  fs::create_directories(scratch / "staged" / "empty");
  std::string error;
  EXPECT_TRUE(FlushFilesBeneath(scratch / "staged", error)) << error;
  EXPECT_TRUE(FlushFolder(scratch / "staged", error)) << error;
  for (const auto& flush : {FlushFilesBeneath, FlushFolder}) {
    error.clear();
    EXPECT_FALSE(flush(scratch / "missing", error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace launcher::test
