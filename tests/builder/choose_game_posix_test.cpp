// Choosing a disc image that lies on another volume than the launcher: no hard link can be made,
// so the image is copied; on a volume too small for it the copy fails and leaves nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "platform/file_ops.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "tmpfs_mount.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

GameCopy ImageCopy(const fs::path& image) {
  GameCopy copy;
  copy.ok = true;
  copy.is_disc_image = true;
  copy.release = "Europe";
  copy.sha1 = "0123456789abcdef0123456789abcdef01234567";
  copy.path = image;
  return copy;
}

TEST_F(BuilderTest, AnImageOnAnotherVolumeIsCopied) {
  TmpfsMount volume(root / "play", 32 * 1048576);
  if (!volume.ok()) GTEST_SKIP() << volume.reason();
  const fs::path image = scratch / "Halvorn.iso";
  const std::string bytes = std::string(10 * 1048576, 'x') + "end";
  WriteFile(image, bytes);
  Builder& b = MakeBuilder();
  std::string error;
  // The system refuses the hard link across volumes, so the quick part leaves the copy to do.
  bool copy_needed = false;
  ASSERT_TRUE(b.ChooseGameWithoutCopying(ImageCopy(image), copy_needed, error)) << error;
  EXPECT_TRUE(copy_needed);
  EXPECT_TRUE(statuses.empty());
  ASSERT_TRUE(b.CopyChosenGame(ImageCopy(image), error)) << error;
  const fs::path dest = root / "play" / "assets" / "Halvorn.iso";
  EXPECT_EQ(ReadFile(dest), bytes);
  EXPECT_EQ(fs::hard_link_count(image), 1u);
  EXPECT_TRUE(Logged("copying " + PathToUtf8(image) + " to " + PathToUtf8(dest)));
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses.back().detail, "10 MB of 10 MB");
}

TEST_F(BuilderTest, ACopyThatDoesNotFitLeavesNoFile) {
  TmpfsMount volume(root / "play", 4 * 1048576);
  if (!volume.ok()) GTEST_SKIP() << volume.reason();
  const fs::path image = scratch / "Halvorn.iso";
  WriteFile(image, std::string(10 * 1048576, 'x'));
  Builder& b = MakeBuilder();
  std::string error;
  EXPECT_FALSE(b.ChooseGame(ImageCopy(image), error));
  EXPECT_EQ(error, "Could not copy the disc image (is the drive full?)");
  EXPECT_TRUE(EntriesUnder(root / "play" / "assets").empty());
  EXPECT_FALSE(fs::exists(root / "launcher.json"));
}

}  // namespace
}  // namespace launcher::test
