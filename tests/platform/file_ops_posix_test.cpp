// Keeping the running program aside during its update, where a file can have two names: the
// program's own name never goes missing; and file times read to the 100 ns.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_ops.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST(FileOps, KeepProgramAsideLeavesTheProgramUnderItsNameAndReplacesAStaleCopy) {
  ScratchDir scratch;
  const fs::path program = scratch / "HalvornLauncher";
  const fs::path kept = scratch / "HalvornLauncher.old";
  WriteFile(program, "the running launcher");
  WriteFile(kept, "from an earlier update");
  std::string error;
  ASSERT_TRUE(KeepProgramAside(program, kept, error)) << error;
  EXPECT_EQ(ReadFile(program), "the running launcher");
  EXPECT_EQ(ReadFile(kept), "the running launcher");
  // Again, as an update ended after this step does when it runs again.
  ASSERT_TRUE(KeepProgramAside(program, kept, error)) << error;
  EXPECT_EQ(ReadFile(kept), "the running launcher");

  fs::remove(program);
  EXPECT_FALSE(KeepProgramAside(program, kept, error));
  EXPECT_NE(error, "");
}

// Two saves of a song within one second must not read as one time; nanoseconds are cut to the
// 100 ns of the count.
TEST(FileOps, LastWriteTicksKeepsTheSubSecondTime) {
  ScratchDir scratch;
  const fs::path file = scratch / "song.mp3";
  WriteFile(file, "a song");
  constexpr int64_t kFrom1601To1970 = 116444736000000000;
  for (const long nanoseconds : {123456789L, 123456800L, 0L}) {
    SCOPED_TRACE(nanoseconds);
    const timespec times[2] = {{1700000000, 0}, {1700000000, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    int64_t ticks = 0;
    ASSERT_TRUE(LastWriteTicks(file, ticks));
    EXPECT_EQ(ticks, int64_t{1700000000} * 10000000 + nanoseconds / 100 + kFrom1601To1970);
  }
  int64_t ticks = 0;
  EXPECT_FALSE(LastWriteTicks(scratch / "gone.mp3", ticks));
}

}  // namespace
}  // namespace launcher::test
