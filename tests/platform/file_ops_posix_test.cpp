// Keeping the running program aside during its update, where a file can have two names: the
// program's own name never goes missing.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace launcher::test
