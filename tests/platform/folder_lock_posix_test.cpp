#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/folder_lock.h"
#include "support/scratch.h"

namespace launcher {
namespace {

// A second launcher finds the holder through the ID in the lock file; anything else there (a
// file cut short, another program's text) names nobody.
TEST(FolderLockHolder, IsTheIdTheHolderWroteAndNobodyForAnythingElse) {
  test::ScratchDir scratch;
  EXPECT_EQ(FolderLockHolder(scratch.path()), 0u);  // no lock file
  {
    test::WriteFile(scratch / kFolderLockName, "4194304123");  // a longer ID left by a killed one
    FolderLock lock;
    std::string error;
    ASSERT_EQ(lock.Take(scratch.path(), error), FolderLock::Outcome::kHeld) << error;
    EXPECT_EQ(FolderLockHolder(scratch.path()), static_cast<std::uint64_t>(getpid()));
  }
  for (const std::string text : {"", "12x", "-5", "99999999999999999999999"}) {
    SCOPED_TRACE(text);
    test::WriteFile(scratch / kFolderLockName, text);
    EXPECT_EQ(FolderLockHolder(scratch.path()), 0u);
  }
}

}  // namespace
}  // namespace launcher
