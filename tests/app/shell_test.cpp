#include <gtest/gtest.h>

#include <filesystem>

#include "app/shell.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

TEST(FreeSpace, ARootNotMadeYetCountsTheNearestFolderAbove) {
  ScratchDir scratch;
  EXPECT_EQ(NearestExisting(scratch / "Halvorn" / "play" / "assets"), scratch.path());
  EXPECT_EQ(NearestExisting(scratch.path()), scratch.path());
  EXPECT_EQ(NearestExisting(""), fs::path());
  const uint64_t free_here = FreeSpaceOnDrive(scratch.path());
  EXPECT_GT(free_here, 0u);
  // Within a little of each other: the two queries see the same volume.
  const uint64_t free_below = FreeSpaceOnDrive(scratch / "Halvorn" / "play");
  EXPECT_LT(free_below > free_here ? free_below - free_here : free_here - free_below,
            uint64_t{64} << 20);
  EXPECT_EQ(FreeSpaceOnDrive(""), 0u);
}

}  // namespace
}  // namespace launcher::test
