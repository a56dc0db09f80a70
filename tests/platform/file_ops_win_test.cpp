// Keeping the running program aside during its update, where a running program can only be
// renamed: an update ended between the two renames finds the program already aside.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace launcher::test
