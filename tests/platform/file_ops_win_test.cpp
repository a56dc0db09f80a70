// Keeping the running program aside during its update, where a running program can only be
// renamed: an update ended between the two renames finds the program already aside; and the
// file times the system keeps to the 100 ns.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_ops.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST(FileOps, KeepProgramAsideRenamesTheProgramAndFindsOneAlreadyAside) {
  ScratchDir scratch;
  const fs::path program = scratch / "HalvornLauncher.exe";
  const fs::path kept = scratch / "HalvornLauncher.exe.old";
  WriteFile(program, "the running launcher");
  WriteFile(kept, "from an earlier update");
  std::string error;
  ASSERT_TRUE(KeepProgramAside(program, kept, error)) << error;
  EXPECT_FALSE(fs::exists(program));
  EXPECT_EQ(ReadFile(kept), "the running launcher");
  // The program's name empty, its copy aside: the first rename is done already.
  ASSERT_TRUE(KeepProgramAside(program, kept, error)) << error;
  EXPECT_EQ(ReadFile(kept), "the running launcher");

  fs::remove(kept);
  EXPECT_FALSE(KeepProgramAside(program, kept, error));
  EXPECT_NE(error, "");
}

// Two saves of a song within one second must not read as one time.
TEST(FileOps, LastWriteTicksKeepsTheSystemsHundredNanoseconds) {
  ScratchDir scratch;
  const fs::path file = scratch / "song.mp3";
  WriteFile(file, "a song");
  for (const int64_t written :
       {int64_t{133456789011234567}, int64_t{133456789011234568}, int64_t{133456789020000000}}) {
    SCOPED_TRACE(written);
    const HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(written));
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
    const BOOL set = SetFileTime(handle, nullptr, nullptr, &time);
    CloseHandle(handle);
    ASSERT_TRUE(set);
    int64_t ticks = 0;
    ASSERT_TRUE(LastWriteTicks(file, ticks));
    EXPECT_EQ(ticks, written);
  }
  int64_t ticks = 0;
  EXPECT_FALSE(LastWriteTicks(scratch / "gone.mp3", ticks));
}

}  // namespace
}  // namespace launcher::test
