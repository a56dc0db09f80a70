// launcher.json on a disk that fills up: a write must never leave it half-written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"
#include "tmpfs_mount.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

// Fills the volume of `folder` until not one more byte fits.
void FillVolume(const fs::path& folder) {
  std::ofstream out(folder / "filler", std::ios::binary);
  const std::string block(4096, 'x');
  while (out.write(block.data(), block.size())) {
  }
  out.clear();
  while (out.put('x') && out.flush()) {
  }
}

TEST_F(BuilderTest, AWriteOnAFullDiskKeepsThePreviousSettingsWhole) {
  TmpfsMount disk(root, 256 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  Builder& b = MakeBuilder();
  b.SetSetting("game", "/games/Halvorn.iso");
  b.SetSetting("game_sha1", std::string(40, 'a'));
  b.SetPlayAtStart(true);
  const std::string before = ReadFile(root / "launcher.json");
  ASSERT_FALSE(before.empty());

  FillVolume(root);
  b.SetSetting("built", "v1.0" + std::string(64 * 1024, 'x'));

  EXPECT_EQ(ReadFile(root / "launcher.json"), before);
  EXPECT_EQ(b.BuiltVersion(), "");
  EXPECT_TRUE(b.PlayAtStart());
  for (const auto& entry : fs::directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "launcher.json" || name == "filler") << name;
  }

  // Once there is room again, the next write goes through.
  fs::remove(root / "filler");
  b.SetSetting("built", "v1.0");
  EXPECT_EQ(b.BuiltVersion(), "v1.0");
  EXPECT_TRUE(b.PlayAtStart());
}

}  // namespace
}  // namespace launcher::test
