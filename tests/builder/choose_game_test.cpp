// Choosing the game copy: play/assets becomes a link to a folder, or a folder holding the disc
// image (hard-linked, else copied), and launcher.json records the choice.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "platform/file_ops.h"
#include "platform/progress.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

const std::string kSha1 = "0123456789abcdef0123456789abcdef01234567";

class BuilderChooseGameTest : public BuilderTest {
 protected:
  void SetUp() override {
    folder = scratch / "games" / "Halvorn disc";
    WriteFile(folder / "default.xbe", "xbe");
    WriteFile(folder / "media" / "a.wav", "wav");
    image = scratch / "games" / "Halvorn.iso";
    WriteFile(image, "an image");
    MakeBuilder();
  }

  GameCopy Copy(const fs::path& path, bool disc_image) const {
    GameCopy copy;
    copy.ok = true;
    copy.is_disc_image = disc_image;
    copy.release = "Europe";
    copy.sha1 = kSha1;
    copy.path = path;
    return copy;
  }

  bool Choose(const GameCopy& copy) {
    error.clear();
    return builder->ChooseGame(copy, error);
  }

  nlohmann::json Settings() const {
    return nlohmann::json::parse(ReadFile(root / "launcher.json"), nullptr, false);
  }

  fs::path Assets() const { return root / "play" / "assets"; }

  fs::path folder;
  fs::path image;
  std::string error;
};

TEST_F(BuilderChooseGameTest, AFolderIsLinkedAndRecorded) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  EXPECT_TRUE(IsLink(Assets()));
  EXPECT_TRUE(fs::equivalent(Assets(), folder));
  EXPECT_EQ(ReadFile(Assets() / "media" / "a.wav"), "wav");
  EXPECT_EQ(Settings()["game"], PathToUtf8(folder));
  EXPECT_EQ(Settings()["game_sha1"], kSha1);
  EXPECT_EQ(builder->GamePath(), folder);
  EXPECT_TRUE(Logged("game: " + PathToUtf8(folder) + ", Europe, sha1 " + kSha1));
}

TEST_F(BuilderChooseGameTest, TheSameFolderTwiceIsInPlace) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  EXPECT_TRUE(IsLink(Assets()));
  EXPECT_TRUE(fs::equivalent(Assets(), folder));
  EXPECT_EQ(ReadFile(folder / "default.xbe"), "xbe");
  EXPECT_TRUE(Logged("game: " + PathToUtf8(folder) + " (in place), Europe, sha1 " + kSha1));
}

TEST_F(BuilderChooseGameTest, ADiscImageOnTheSameVolumeIsHardLinked) {
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  const fs::path dest = Assets() / "Halvorn.iso";
  EXPECT_FALSE(IsLink(Assets()));
  EXPECT_TRUE(fs::is_directory(Assets()));
  EXPECT_TRUE(fs::equivalent(dest, image));
  EXPECT_EQ(ReadFile(dest), "an image");
  EXPECT_EQ(Settings()["game"], PathToUtf8(image));
  for (const std::string& line : log) EXPECT_NE(line.rfind("copying ", 0), 0u) << line;
  EXPECT_TRUE(Logged("game: " + PathToUtf8(image) + ", Europe, sha1 " + kSha1));
}

TEST_F(BuilderChooseGameTest, ADiscImageInsideAssetsIsInPlaceAndOtherImagesGo) {
  WriteFile(Assets() / "a.iso", "chosen");
  WriteFile(Assets() / "old.ISO", "old");
  WriteFile(Assets() / "notes.txt", "notes");
  ASSERT_TRUE(Choose(Copy(Assets() / "a.iso", true))) << error;
  EXPECT_EQ(ReadFile(Assets() / "a.iso"), "chosen");
  EXPECT_FALSE(fs::exists(Assets() / "old.ISO"));
  EXPECT_EQ(ReadFile(Assets() / "notes.txt"), "notes");
  EXPECT_TRUE(Logged("game: " + PathToUtf8(Assets() / "a.iso") + " (in place), Europe, sha1 " +
                     kSha1));
}

TEST_F(BuilderChooseGameTest, SwitchingFromAFolderToADiscImageKeepsThePlayersFolder) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(folder / "old.iso", "the player's own image");
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  EXPECT_FALSE(IsLink(Assets()));
  EXPECT_EQ(ReadFile(Assets() / "Halvorn.iso"), "an image");
  EXPECT_EQ(ReadFile(folder / "old.iso"), "the player's own image");
  EXPECT_EQ(ReadFile(folder / "default.xbe"), "xbe");
  EXPECT_EQ(Settings()["game"], PathToUtf8(image));
}

TEST_F(BuilderChooseGameTest, AnImageInsideTheLinkedFolderGetsARealAssetsFolder) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(folder / "Halvorn.iso", "image in the folder");
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  ASSERT_TRUE(Choose(Copy(folder / "Halvorn.iso", true))) << error;
  EXPECT_FALSE(IsLink(Assets()));
  EXPECT_EQ(ReadFile(Assets() / "Halvorn.iso"), "image in the folder");
  EXPECT_EQ(ReadFile(folder / "default.xbe"), "xbe");
}

TEST_F(BuilderChooseGameTest, AnAssetsFolderOfOldImagesIsReplaced) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(Assets() / "one.iso", "1");
  WriteFile(Assets() / "two.Iso", "2");
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  EXPECT_TRUE(IsLink(Assets()));
  EXPECT_TRUE(fs::equivalent(Assets(), folder));
}

TEST_F(BuilderChooseGameTest, AnAssetsFolderHoldingOtherFilesCannotBeReplaced) {
  WriteFile(Assets() / "one.iso", "1");
  WriteFile(Assets() / "saves.dat", "the player's");
  EXPECT_FALSE(Choose(Copy(folder, false)));
  EXPECT_EQ(error, "Cannot replace " + PathToUtf8(Assets()) +
                       ": remove it by hand and choose the game again.");
  EXPECT_EQ(ReadFile(Assets() / "saves.dat"), "the player's");
  EXPECT_FALSE(fs::exists(root / "launcher.json"));
}

TEST_F(BuilderChooseGameTest, ALinkWhoseFolderWasDeletedIsReplaced) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  fs::remove_all(folder);
  const fs::path other = scratch / "games" / "second disc";
  WriteFile(other / "default.xbe", "xbe");
  ASSERT_TRUE(Choose(Copy(other, false))) << error;
  EXPECT_TRUE(fs::equivalent(Assets(), other));
}

TEST_F(BuilderChooseGameTest, WithoutAHardLinkTheImageIsCopiedWithProgress) {
  platform.refuse_hard_links = true;
  const std::string bytes = std::string(9 * 1048576, 'i') + "tail";
  WriteFile(image, bytes);
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  const fs::path dest = Assets() / "Halvorn.iso";
  EXPECT_FALSE(fs::equivalent(dest, image));
  EXPECT_EQ(ReadFile(dest), bytes);
  EXPECT_TRUE(Logged("copying " + PathToUtf8(image) + " to " + PathToUtf8(dest)));
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0].title, "Copying the disc image");
  EXPECT_EQ(statuses[0].detail, "8 MB of 9 MB");
  EXPECT_DOUBLE_EQ(statuses[0].fraction, 8388608.0 / bytes.size());
  EXPECT_EQ(statuses[1].detail, "9 MB of 9 MB");
  EXPECT_DOUBLE_EQ(statuses[1].fraction, 1.0);
  EXPECT_EQ(Settings()["game"], PathToUtf8(image));
}

// Until the copy is whole it has a name that is never taken for the image: a copy ended by a
// kill or a power cut is not the game.
TEST_F(BuilderChooseGameTest, ACopyTakesTheImagesNameOnlyWhenWhole) {
  platform.refuse_hard_links = true;
  const std::string bytes = std::string(9 * 1048576, 'i');
  WriteFile(image, bytes);
  std::vector<std::set<std::string>> seen;
  on_status = [&](const Status&) { seen.push_back(EntriesUnder(Assets())); };
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  const std::set<std::string> copying = {"Halvorn.iso.tmp"};
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], copying);
  EXPECT_EQ(seen[1], copying);
  EXPECT_EQ(EntriesUnder(Assets()), std::set<std::string>{"Halvorn.iso"});
  EXPECT_EQ(ReadFile(Assets() / "Halvorn.iso"), bytes);
}

TEST_F(BuilderChooseGameTest, AStoppedCopyLeavesNoFileAndNoRecord) {
  platform.refuse_hard_links = true;
  WriteFile(image, std::string(9 * 1048576, 'i'));
  on_status = [this](const Status&) { builder->cancel = true; };
  EXPECT_FALSE(Choose(Copy(image, true)));
  EXPECT_EQ(error, kCancelled);
  EXPECT_EQ(statuses.size(), 1u);
  EXPECT_TRUE(EntriesUnder(Assets()).empty());
  EXPECT_FALSE(fs::exists(root / "launcher.json"));
}

// What a killed copy left beside the images goes with them when the copy is made again.
TEST_F(BuilderChooseGameTest, AnAssetsFolderWithALeftoverCopyIsReplaced) {
  WriteFile(Assets() / "Halvorn.iso.tmp", "a copy ended halfway");
  WriteFile(Assets() / "Other.ISO.TMP", "another");
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  EXPECT_EQ(EntriesUnder(Assets()), std::set<std::string>{"Halvorn.iso"});
}

TEST_F(BuilderChooseGameTest, AStopLeftFromAnEarlierJobDoesNotEndTheCopy) {
  platform.refuse_hard_links = true;
  WriteFile(image, std::string(9 * 1048576, 'i'));
  builder->cancel = true;
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  EXPECT_FALSE(builder->cancel);
  EXPECT_EQ(fs::file_size(Assets() / "Halvorn.iso"), 9u * 1048576);
}

TEST_F(BuilderChooseGameTest, AnEmptyImageIsCopiedWithAnIndeterminateBar) {
  platform.refuse_hard_links = true;
  WriteFile(image, "");
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  EXPECT_TRUE(fs::exists(Assets() / "Halvorn.iso"));
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().detail, "0 MB of 0 MB");
  EXPECT_DOUBLE_EQ(statuses.back().fraction, -1);
}

TEST_F(BuilderChooseGameTest, GamePathFindsTheImageCopyWhenTheOriginalIsGone) {
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  fs::remove(image);
  EXPECT_EQ(builder->GamePath(), Assets() / "Halvorn.iso");
}

TEST_F(BuilderChooseGameTest, GamePathGivesADeletedFolderBackUnchanged) {
  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  fs::remove_all(folder);
  EXPECT_EQ(builder->GamePath(), folder);
}

TEST_F(BuilderChooseGameTest, GamePathIsEmptyWithoutARecordedGame) {
  fs::create_directories(root);
  WriteFile(root / "launcher.json", R"({"game_sha1": "ab"})");
  EXPECT_TRUE(builder->GamePath().empty());
  WriteFile(root / "launcher.json", R"({"game": "/no/such/disc.iso")");
  EXPECT_TRUE(builder->GamePath().empty());
  WriteFile(root / "launcher.json", R"({"game": "/no/such/disc.iso"})");
  EXPECT_EQ(builder->GamePath(), PathFromUtf8("/no/such/disc.iso"));
}

}  // namespace
}  // namespace launcher::test
