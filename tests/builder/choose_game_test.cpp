// Choosing the game copy: play/assets becomes a link to a folder, or a folder holding the disc
// image (hard-linked, else copied), and launcher.json records the choice.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <system_error>
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

// The choice in two parts, as the Game page makes it: the quick part does all of a choice that
// needs no copy; for an image that must be copied it only clears the way and records nothing.
TEST_F(BuilderChooseGameTest, TheQuickPartDoesAllButACopy) {
  const struct {
    const char* name;
    bool folder;
    bool refuse_hard_links;
    bool copy_needed;
  } cases[] = {
      {"a folder", true, false, false},
      {"an image on the same volume", false, false, false},
      {"an image on another volume", false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.folder) {
      if (const std::string why = FolderLinksMissing(); !why.empty()) {
        std::printf("skipped the folder case: %s\n", why.c_str());
        continue;
      }
    }
    fs::remove_all(root);
    WriteFile(root / "launcher.json", R"({"game": "/earlier/disc.iso"})");
    WriteFile(Assets() / "disc.iso", "the earlier copy");
    WriteFile(Assets() / "disc.iso.tmp", "what a killed copy left");
    platform.refuse_hard_links = c.refuse_hard_links;
    statuses.clear();
    builder->cancel = true;  // left by an earlier stopped job
    const GameCopy copy = Copy(c.folder ? folder : image, !c.folder);
    bool copy_needed = !c.copy_needed;
    ASSERT_TRUE(builder->ChooseGameWithoutCopying(copy, copy_needed, error)) << error;
    EXPECT_EQ(copy_needed, c.copy_needed);
    EXPECT_FALSE(builder->cancel) << "the choice starts afresh";
    EXPECT_TRUE(statuses.empty());
    if (c.copy_needed) {
      EXPECT_TRUE(fs::is_directory(Assets()));
      EXPECT_FALSE(IsLink(Assets()));
      EXPECT_TRUE(EntriesUnder(Assets()).empty());
      EXPECT_EQ(Settings()["game"], "/earlier/disc.iso");
    } else {
      EXPECT_TRUE(fs::equivalent(c.folder ? Assets() : Assets() / "Halvorn.iso", copy.path));
      EXPECT_EQ(Settings()["game"], PathToUtf8(copy.path));
    }
  }
}

TEST_F(BuilderChooseGameTest, TheCopyAfterTheQuickPartCopiesAndRecords) {
  platform.refuse_hard_links = true;
  const std::string bytes = std::string(17 * 1048576, 'i');
  WriteFile(image, bytes);
  bool copy_needed = false;
  ASSERT_TRUE(builder->ChooseGameWithoutCopying(Copy(image, true), copy_needed, error)) << error;
  ASSERT_TRUE(copy_needed);
  ASSERT_TRUE(builder->CopyChosenGame(Copy(image, true), error)) << error;
  const fs::path dest = Assets() / "Halvorn.iso";
  EXPECT_EQ(ReadFile(dest), bytes);
  std::vector<std::string> details;
  for (const Status& status : statuses) {
    EXPECT_EQ(status.title, "Copying the disc image");
    details.push_back(status.detail);
  }
  EXPECT_EQ(details, (std::vector<std::string>{"8 MB of 17 MB", "16 MB of 17 MB",
                                               "17 MB of 17 MB"}));
  EXPECT_TRUE(Logged("copying " + PathToUtf8(image) + " to " + PathToUtf8(dest)));
  EXPECT_TRUE(Logged("game: " + PathToUtf8(image) + ", Europe, sha1 " + kSha1));
  EXPECT_EQ(Settings()["game"], PathToUtf8(image));
  EXPECT_EQ(Settings()["game_sha1"], kSha1);
}

// A Stop, or the close of the window, that comes between the two parts still ends the copy:
// the second part does not clear the flag. A failed copy ends the same way, in its own words.
TEST_F(BuilderChooseGameTest, AStoppedOrFailedCopyLeavesNoFileAndTheEarlierRecord) {
  platform.refuse_hard_links = true;
  const struct {
    const char* name;
    std::function<void()> before;  // after the quick part
    std::function<void()> on_status;
    std::string error;
    size_t reports;  // the block it was in, and for a short read the empty one after
  } cases[] = {
      {"stopped before it began", [this] { builder->cancel = true; }, nullptr, kCancelled, 1},
      {"stopped during", nullptr, [this] { builder->cancel = true; }, kCancelled, 1},
      {"the image shrank", nullptr,
       [this] {
         std::error_code ec;
         fs::resize_file(image, 4096, ec);
         EXPECT_FALSE(ec) << ec.message();
       },
       "Could not copy the disc image (is the drive full?)", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(image, std::string(17 * 1048576, 'i'));
    WriteFile(root / "launcher.json", R"({"game": "/earlier/disc.iso"})");
    statuses.clear();
    on_status = nullptr;
    bool copy_needed = false;
    ASSERT_TRUE(builder->ChooseGameWithoutCopying(Copy(image, true), copy_needed, error));
    ASSERT_TRUE(copy_needed);
    if (c.before) c.before();
    if (c.on_status) on_status = [&c](const Status&) { c.on_status(); };
    EXPECT_FALSE(builder->CopyChosenGame(Copy(image, true), error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(statuses.size(), c.reports);
    EXPECT_TRUE(EntriesUnder(Assets()).empty());
    EXPECT_EQ(ReadFile(root / "launcher.json"), R"({"game": "/earlier/disc.iso"})");
  }
}

// What a copy ended by a kill left goes at the next start; nothing else in play/assets does,
// and nothing in a linked folder, which is the player's.
TEST_F(BuilderChooseGameTest, TheStartRemovesWhatAnEndedCopyLeft) {
  builder->RemoveCopyLeftovers();
  EXPECT_FALSE(fs::exists(Assets())) << "no play folder is made";

  WriteFile(Assets() / "Halvorn.iso.tmp", "a copy ended halfway");
  WriteFile(Assets() / "Other.ISO.TMP", "another");
  WriteFile(Assets() / "Halvorn.iso", "a whole copy");
  WriteFile(Assets() / "notes.txt", "notes");
  builder->RemoveCopyLeftovers();
  EXPECT_EQ(EntriesUnder(Assets()), (std::set<std::string>{"Halvorn.iso", "notes.txt"}));

  if (const std::string why = FolderLinksMissing(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(folder / "mine.iso.tmp", "the player's");
  fs::remove_all(Assets());
  ASSERT_TRUE(Choose(Copy(folder, false))) << error;
  builder->RemoveCopyLeftovers();
  EXPECT_EQ(ReadFile(folder / "mine.iso.tmp"), "the player's");
}

// Whether the game would find its disc: the recorded copy whole in play/assets, and not once
// the way was cleared for a copy that then stopped, or a copy cut short.
TEST_F(BuilderChooseGameTest, GameInAssetsTellsWhetherTheRecordedCopyIsThere) {
  EXPECT_FALSE(builder->GameInAssets()) << "nothing recorded";
  ASSERT_TRUE(Choose(Copy(image, true))) << error;
  EXPECT_TRUE(builder->GameInAssets());
  fs::remove(image);
  EXPECT_TRUE(builder->GameInAssets()) << "the copy in play/assets stands for the image";

  WriteFile(image, "an image");
  WriteFile(Assets() / "Halvorn.iso", "an im");
  EXPECT_FALSE(builder->GameInAssets()) << "a copy cut short";

  WriteFile(Assets() / "Halvorn.iso", "an image");
  platform.refuse_hard_links = true;
  WriteFile(image, std::string(17 * 1048576, 'i'));
  bool copy_needed = false;
  ASSERT_TRUE(builder->ChooseGameWithoutCopying(Copy(image, true), copy_needed, error));
  builder->cancel = true;
  EXPECT_FALSE(builder->CopyChosenGame(Copy(image, true), error));
  EXPECT_FALSE(builder->GameInAssets()) << "a stopped copy of a new image";
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
