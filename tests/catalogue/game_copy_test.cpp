#include "catalogue/game_copy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "platform/sha.h"
#include "support/disc_image_writer.h"
#include "support/scratch.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;

const std::string kXbe = "XBEH supported release of the game, as on the disc";
const std::string kOtherXbe = "XBEH a modified copy";
constexpr const char* kTitle = "Zemrik: Halvorn";
constexpr const char* kNotADisc = "This is not an Xbox disc image of Zemrik: Halvorn: ";
const std::string kCutShort =
    "This disc image of Zemrik: Halvorn is incomplete (the file ends before the disc's data "
    "does): copy it again.";
constexpr const char* kChoose =
    "Choose the game's disc image (.iso), or the folder with its files (default.xbe).";
constexpr const char* kIncomplete =
    "The folder holds default.xbe but not the rest of the disc's files.";

std::string Sha1Of(const std::string& bytes) {
  Sha1 sha1;
  sha1.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return sha1.FinalHex();
}

std::string UnsupportedMessage(const std::string& bytes) {
  return "This copy's default.xbe is not one this port supports (SHA-1 " + Sha1Of(bytes) +
         "). It needs an unmodified disc of Zemrik: Halvorn.";
}

class GameCopyTest : public ::testing::Test {
 protected:
  GameCopyTest() {
    game_.title = kTitle;
    game_.short_name = "Halvorn";
    game_.xbe = "default.xbe";
    game_.releases[Sha1Of(kXbe)] = "USA, Europe";
  }

  // A folder with the XBE and `others` more entries (files and a folder).
  fs::path GameFolder(const std::string& name, int others, const std::string& xbe_name = "default.xbe",
                      const std::string& xbe = kXbe) {
    const fs::path folder = dir_ / name;
    test::WriteFile(folder / xbe_name, xbe);
    for (int i = 0; i < others; ++i) {
      if (i == 0) {
        fs::create_directories(folder / "media");
      } else {
        test::WriteFile(folder / ("file" + std::to_string(i) + ".bin"), "data");
      }
    }
    return folder;
  }

  fs::path MakeDiscImage(const std::string& name, const std::string& xbe_name = "default.xbe",
                     const std::string& xbe = kXbe, bool whole_disc = false) {
    test::DiscImageWriter writer;
    writer.AddFile(xbe_name, xbe);
    writer.AddFile("media\\sound.wav", "RIFF");
    const fs::path path = dir_ / name;
    EXPECT_TRUE(whole_disc ? writer.WriteWholeDisc(path) : writer.WriteGamePartition(path));
    return path;
  }

  void ExpectAccepted(const GameCopy& copy, const fs::path& path, bool disc_image) {
    EXPECT_TRUE(copy.ok) << copy.message;
    EXPECT_EQ(copy.is_disc_image, disc_image);
    EXPECT_EQ(copy.release, "USA, Europe");
    EXPECT_EQ(copy.sha1, Sha1Of(kXbe));
    EXPECT_EQ(copy.message, "");
    EXPECT_EQ(copy.path, path);
  }

  test::ScratchDir dir_;
  GameDescription game_;
};

TEST_F(GameCopyTest, DefaultCopyIsEmpty) {
  const GameCopy copy;
  EXPECT_FALSE(copy.ok);
  EXPECT_FALSE(copy.is_disc_image);
  EXPECT_EQ(copy.release, "");
  EXPECT_EQ(copy.sha1, "");
  EXPECT_EQ(copy.message, "");
  EXPECT_TRUE(copy.path.empty());
}

TEST_F(GameCopyTest, AcceptsACompleteFolder) {
  const fs::path folder = GameFolder("game", 2);
  ExpectAccepted(IdentifyGameCopy(game_, folder), folder, false);
}

TEST_F(GameCopyTest, FindsTheXbeInAnyLetterCase) {
  const fs::path folder = GameFolder("caps", 2, "DEFAULT.XBE");
  ExpectAccepted(IdentifyGameCopy(game_, folder), folder, false);
}

TEST_F(GameCopyTest, PickingTheXbeItselfMeansItsFolder) {
  const fs::path folder = GameFolder("picked", 2, "Default.Xbe");
  ExpectAccepted(IdentifyGameCopy(game_, folder / "Default.Xbe"), folder, false);
  // A name in capitals that is not there: still its folder, and the folder's XBE is found.
  ExpectAccepted(IdentifyGameCopy(game_, folder / "DEFAULT.XBE"), folder, false);
}

TEST_F(GameCopyTest, FolderNeedsThreeEntries) {
  const fs::path folder = GameFolder("short", 1);
  const GameCopy incomplete = IdentifyGameCopy(game_, folder);
  EXPECT_FALSE(incomplete.ok);
  EXPECT_EQ(incomplete.message, kIncomplete);
  EXPECT_EQ(incomplete.sha1, Sha1Of(kXbe));
  EXPECT_EQ(incomplete.release, "");
  EXPECT_EQ(incomplete.path, folder);

  test::WriteFile(folder / "third.bin", "x");
  ExpectAccepted(IdentifyGameCopy(game_, folder), folder, false);
}

TEST_F(GameCopyTest, AcceptsDiscImagesOfBothLayoutsWithoutCountingEntries) {
  const fs::path partition = MakeDiscImage("game.iso");
  ExpectAccepted(IdentifyGameCopy(game_, partition), partition, true);
  const fs::path whole = MakeDiscImage("whole.ISO", "DEFAULT.XBE", kXbe, true);
  ExpectAccepted(IdentifyGameCopy(game_, whole), whole, true);

  test::DiscImageWriter only_xbe;
  only_xbe.AddFile("default.xbe", kXbe);
  ASSERT_TRUE(only_xbe.WriteGamePartition(dir_ / "bare.iso"));
  ExpectAccepted(IdentifyGameCopy(game_, dir_ / "bare.iso"), dir_ / "bare.iso", true);
}

TEST_F(GameCopyTest, RelativePathsAreMadeAbsolute) {
  const fs::path folder = GameFolder("relative", 2);
  const fs::path image = MakeDiscImage("relative.iso");
  const fs::path before = fs::current_path();
  fs::current_path(dir_.path());
  const GameCopy from_folder = IdentifyGameCopy(game_, "relative");
  const GameCopy from_image = IdentifyGameCopy(game_, "relative.iso");
  const GameCopy from_xbe = IdentifyGameCopy(game_, fs::path("relative") / "default.xbe");
  fs::current_path(before);
  EXPECT_TRUE(from_folder.ok) << from_folder.message;
  EXPECT_TRUE(from_folder.path.is_absolute());
  EXPECT_TRUE(fs::equivalent(from_folder.path, folder));
  EXPECT_TRUE(from_image.ok) << from_image.message;
  EXPECT_TRUE(from_image.path.is_absolute());
  EXPECT_TRUE(fs::equivalent(from_image.path, image));
  EXPECT_TRUE(from_xbe.ok) << from_xbe.message;
  EXPECT_TRUE(fs::equivalent(from_xbe.path, folder));
}

TEST_F(GameCopyTest, FolderReachedThroughALink) {
  const fs::path folder = GameFolder("real", 2);
  const fs::path link = dir_ / "linked";
  std::unique_ptr<Platform> platform = CreatePlatform();
  std::string error;
  // Wine has no junctions: its "mklink /J" ends well and makes nothing.
  if (!platform->LinkFolder(link, folder, error)) {
    GTEST_SKIP() << "this system makes no folder link here: " << error;
  }
  std::error_code ec;
  if (!fs::is_directory(link, ec)) {
    GTEST_SKIP() << "the folder link was reported made, but " << PathToUtf8(link)
                 << " is not there (Wine makes no junctions)";
  }
  ExpectAccepted(IdentifyGameCopy(game_, link), link, false);
  ExpectAccepted(IdentifyGameCopy(game_, link / "default.xbe"), link, false);
}

// Every message a failed identification gives, as the player reads it.
TEST_F(GameCopyTest, Messages) {
  test::WriteFile(dir_ / "notes.txt", "not a game");
  test::WriteFile(dir_ / "random.iso", [] {
    std::mt19937 random(7);
    std::string bytes(200000, '\0');
    for (char& c : bytes) c = char(random());
    return bytes;
  }());
  test::DiscImageWriter without_xbe;
  without_xbe.AddFile("other.xbe", kXbe);
  ASSERT_TRUE(without_xbe.WriteGamePartition(dir_ / "noxbe.iso"));
  test::DiscImageWriter xbe_folder;
  xbe_folder.AddFolder("default.xbe");
  ASSERT_TRUE(xbe_folder.WriteGamePartition(dir_ / "folderxbe.iso"));
  test::DiscImageWriter xbe_in_folder;
  xbe_in_folder.AddFile("sub\\default.xbe", kXbe);
  ASSERT_TRUE(xbe_in_folder.WriteGamePartition(dir_ / "nested.iso"));
  MakeDiscImage("modified.iso", "default.xbe", kOtherXbe);
  fs::create_directories(dir_ / "empty");
  GameFolder("modified", 2, "default.xbe", kOtherXbe);
  GameFolder("xbe as folder", 2, "unused.bin");
  fs::create_directories(dir_ / "xbe as folder" / "default.xbe");

  struct Case {
    fs::path path;
    std::string message;
    bool disc_image;
    std::string sha1;
    fs::path copy_path;
  };
  const std::string other_sha = Sha1Of(kOtherXbe);
  const Case cases[] = {
      {dir_ / "notes.txt", kChoose, false, "", {}},
      {fs::path(), kChoose, false, "", {}},
      {dir_ / "missing.txt", kChoose, false, "", {}},
      {dir_ / "game.iso.bak", kChoose, false, "", {}},
      {dir_ / "MISSING.ISO", std::string(kNotADisc) + "cannot open the file", true, "",
       dir_ / "MISSING.ISO"},
      {dir_ / "random.iso", std::string(kNotADisc) + "no Xbox disc image", true, "",
       dir_ / "random.iso"},
      {dir_ / "noxbe.iso", std::string(kNotADisc) + "the disc image has no default.xbe", true, "",
       dir_ / "noxbe.iso"},
      {dir_ / "folderxbe.iso", std::string(kNotADisc) + "the disc image has no default.xbe", true,
       "", dir_ / "folderxbe.iso"},
      {dir_ / "nested.iso", std::string(kNotADisc) + "the disc image has no default.xbe", true, "",
       dir_ / "nested.iso"},
      {dir_ / "empty", "there is no default.xbe in " + PathToUtf8(dir_ / "empty"), false, "",
       dir_ / "empty"},
      {dir_ / "xbe as folder",
       "there is no default.xbe in " + PathToUtf8(dir_ / "xbe as folder"), false, "",
       dir_ / "xbe as folder"},
      {dir_ / "modified.iso", UnsupportedMessage(kOtherXbe), true, other_sha,
       dir_ / "modified.iso"},
      {dir_ / "modified", UnsupportedMessage(kOtherXbe), false, other_sha, dir_ / "modified"},
      {dir_ / "modified" / "DEFAULT.xbe", UnsupportedMessage(kOtherXbe), false, other_sha,
       dir_ / "modified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PathToUtf8(c.path));
    const GameCopy copy = IdentifyGameCopy(game_, c.path);
    EXPECT_FALSE(copy.ok);
    EXPECT_EQ(copy.message, c.message);
    EXPECT_EQ(copy.is_disc_image, c.disc_image);
    EXPECT_EQ(copy.sha1, c.sha1);
    EXPECT_EQ(copy.release, "");
    EXPECT_EQ(copy.path, c.copy_path);
  }
}

TEST_F(GameCopyTest, MessagesNameTheDescriptionsOwnXbeAndTitle) {
  game_.title = "Other Game";
  game_.xbe = "Game.XBE";
  const GameCopy neither = IdentifyGameCopy(game_, dir_ / "notes.txt");
  EXPECT_EQ(neither.message,
            "Choose the game's disc image (.iso), or the folder with its files (Game.XBE).");
  const GameCopy disc = IdentifyGameCopy(game_, dir_ / "none.iso");
  EXPECT_EQ(disc.message, "This is not an Xbox disc image of Other Game: cannot open the file");
  fs::create_directories(dir_ / "empty");
  EXPECT_EQ(IdentifyGameCopy(game_, dir_ / "empty").message,
            "there is no Game.XBE in " + PathToUtf8(dir_ / "empty"));
}

TEST_F(GameCopyTest, FolderPathsInMessagesAreUtf8) {
  const fs::path folder = dir_ / fs::path(u8"Sp\u00efel \u00c4");
  fs::create_directories(folder);
  const GameCopy copy = IdentifyGameCopy(game_, folder);
  EXPECT_EQ(copy.message, "there is no default.xbe in " + PathToUtf8(folder));
  EXPECT_THAT(copy.message, ::testing::EndsWith("Sp\xC3\xAF" "el \xC3\x84"));
}

TEST_F(GameCopyTest, DamagedDiscImagesNeverCrash) {
  test::DiscImageWriter writer;
  writer.AddFile("default.xbe", kXbe);
  writer.AddFile("media\\sound.wav", "RIFF");
  test::DiscLayout layout;
  const std::vector<uint8_t> image = writer.Build(&layout);
  const std::string bytes(image.begin(), image.end());
  const uint64_t xbe_at = uint64_t(layout.entries.at("default.xbe").sector) * test::kDiscSectorSize;
  const uint64_t root_at = uint64_t(layout.entries.at("").sector) * test::kDiscSectorSize;
  ASSERT_LT(xbe_at + kXbe.size(), bytes.size() + 1);
  // Cut before, at and inside the descriptor, where nothing tells an Xbox disc, and inside the
  // root table and inside the XBE, where the disc's own tables show that the file is short.
  const struct {
    uint64_t size;
    std::string message;  // its beginning
  } cuts[] = {
      {0, kNotADisc},
      {100, kNotADisc},
      {test::kDiscDescriptorOffset, kNotADisc},
      {test::kDiscDescriptorOffset + 100, kNotADisc},
      {root_at + 10, kCutShort},
      {xbe_at + 10, kCutShort},
  };
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.size);
    test::WriteFile(dir_ / "cut.iso", bytes.substr(0, cut.size));
    const GameCopy copy = IdentifyGameCopy(game_, dir_ / "cut.iso");
    EXPECT_FALSE(copy.ok);
    EXPECT_THAT(copy.message, StartsWith(cut.message));
  }
}

TEST_F(GameCopyTest, AnXbePastTheImagesEndSaysTheImageIsIncomplete) {
  test::DiscImageWriter writer;
  writer.AddFileAt("default.xbe", 4000, 5000);  // its data lies past the image's end
  ASSERT_TRUE(writer.WriteGamePartition(dir_ / "short.iso"));
  const GameCopy copy = IdentifyGameCopy(game_, dir_ / "short.iso");
  EXPECT_FALSE(copy.ok);
  EXPECT_EQ(copy.message, kCutShort);
  EXPECT_EQ(copy.sha1, "");
}

TEST_F(GameCopyTest, ReadXbeGivesTheWholeFile) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + (i >> 11));
  GameFolder("big", 2, "default.xbe", big);
  test::WriteFile(dir_ / "big" / "Extra.XBE", "second");
  GameCopy folder;
  folder.path = dir_ / "big";
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(ReadXbe("default.xbe", folder, bytes, error)) << error;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), big);
  ASSERT_TRUE(ReadXbe("extra.xbe", folder, bytes, error)) << error;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second");
  EXPECT_FALSE(ReadXbe("missing.xbe", folder, bytes, error));
  EXPECT_EQ(error, "there is no missing.xbe in " + PathToUtf8(dir_ / "big"));

  test::DiscImageWriter writer;
  writer.AddFile("default.xbe", big);
  writer.AddFile("EXTRA.xbe", "");
  ASSERT_TRUE(writer.WriteWholeDisc(dir_ / "big.iso"));
  GameCopy disc;
  disc.is_disc_image = true;
  disc.path = dir_ / "big.iso";
  ASSERT_TRUE(ReadXbe("DEFAULT.XBE", disc, bytes, error)) << error;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), big);
  ASSERT_TRUE(ReadXbe("extra.xbe", disc, bytes, error)) << error;
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReadXbe("missing.xbe", disc, bytes, error));
  EXPECT_EQ(error, "the disc image has no missing.xbe");
}

}  // namespace
}  // namespace launcher
