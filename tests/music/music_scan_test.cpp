#include "music/music_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "support/scratch.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::ScratchDir;
using test::WriteFile;

// Each soundtrack as "name: song, song" with the songs' paths relative to `base`.
std::vector<std::string> Describe(const std::vector<Soundtrack>& soundtracks, const fs::path& base) {
  std::vector<std::string> lines;
  for (const Soundtrack& soundtrack : soundtracks) {
    std::string line = soundtrack.name + ":";
    for (const Song& song : soundtrack.songs) {
      std::string relative = PathToUtf8(song.path.lexically_relative(base));
      for (char& c : relative) c = c == '\\' ? '/' : c;
      line += " " + relative;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string Numbered(const char* format, int i) {
  char text[64];
  std::snprintf(text, sizeof text, format, i);
  return text;
}

class MusicScan : public ::testing::Test {
 protected:
  void Touch(const std::string& relative) { WriteFile(music / PathFromUtf8(relative), "x"); }
  std::vector<Soundtrack> Scan() { return ScanMusicFolder(music, warnings); }

  ScratchDir scratch;
  fs::path music = scratch / "Music";
  std::vector<std::string> warnings;
};

TEST_F(MusicScan, FolderOwnFilesMakeOneSoundtrackNamedAfterIt) {
  Touch("Song.MP3");
  Touch("beta.Flac");
  Touch("cover.jpg");
  Touch("notes");
  Touch("Alpha.ogg");
  Touch("x.OPUS");
  Touch("y.m4a");
  Touch("z.Aac");
  Touch("w.wav");
  Touch("v.wma");
  Touch("u.AIFF");
  Touch("t.aif");
  Touch("mp3");
  Touch("archive.mp3.zip");
  const std::vector<Soundtrack> soundtracks = Scan();
  ASSERT_EQ(soundtracks.size(), 1u);
  EXPECT_EQ(soundtracks[0].name, "Music");
  EXPECT_EQ(Describe(soundtracks, music),
            std::vector<std::string>{"Music: Alpha.ogg beta.Flac Song.MP3 t.aif u.AIFF v.wma "
                                     "w.wav x.OPUS y.m4a z.Aac"});
  EXPECT_EQ(soundtracks[0].songs[2].name, "Song");
  EXPECT_EQ(soundtracks[0].songs[2].ms, 0u);
  EXPECT_EQ(soundtracks[0].songs[2].path, music / "Song.MP3");
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MusicScan, SubFoldersInOrderWithTheirOwnFilesFirst) {
  Touch("b/one.mp3");
  Touch("A/x.mp3");
  Touch("A/deep/a.mp3");
  Touch("A/deep/deeper/0.mp3");
  Touch("A/Zed/z.mp3");
  Touch("A/b.mp3");
  Touch("c/cover.png");
  Touch("c/inner/two.wav");
  Touch("empty/readme.txt");
  fs::create_directories(music / "nothing");
  EXPECT_EQ(Describe(Scan(), music),
            (std::vector<std::string>{
                "A: A/b.mp3 A/x.mp3 A/deep/a.mp3 A/deep/deeper/0.mp3 A/Zed/z.mp3",
                "b: b/one.mp3",
                "c: c/inner/two.wav",
            }));
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MusicScan, NamesCompareAsLowerCasedBytes) {
  const struct {
    const char* a;
    const char* b;
    bool less;
  } cases[] = {
      {"a.mp3", "B.mp3", true},
      {"B.mp3", "a.mp3", false},
      {"a.mp3", "A.mp3", false},
      {"ab", "abc", true},
      {"abc", "ab", false},
      {"a.mp3", "a0.mp3", true},  // '.' sorts before '0'
      {"z", "\xC3\x89", true},    // non-ASCII bytes are above ASCII and are not lower-cased
      {"\xC3\xA9", "\xC3\x89", false},
      {"dir/Z", "other/a", false},  // only the last component counts
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SoundtrackNameLess(PathFromUtf8(c.a), PathFromUtf8(c.b)), c.less)
        << c.a << " < " << c.b;
  }
}

TEST_F(MusicScan, HundredSoundtracksAtMost) {
  for (int i = 0; i < 101; ++i) Touch(Numbered("Album %03d/song.mp3", i));
  std::vector<Soundtrack> soundtracks = Scan();
  ASSERT_EQ(soundtracks.size(), 100u);
  EXPECT_EQ(soundtracks.back().name, "Album 099");
  EXPECT_EQ(warnings, std::vector<std::string>{"\"Album 100\" left out: an Xbox holds 100 soundtracks"});

  // The folder's own music comes first, so the last sub-folder is the one left out.
  fs::remove_all(music / "Album 100");
  warnings.clear();
  Touch("loose.mp3");
  soundtracks = Scan();
  ASSERT_EQ(soundtracks.size(), 100u);
  EXPECT_EQ(soundtracks.front().name, "Music");
  EXPECT_EQ(soundtracks.back().name, "Album 098");
  EXPECT_EQ(warnings, std::vector<std::string>{"\"Album 099\" left out: an Xbox holds 100 soundtracks"});
}

TEST_F(MusicScan, FiveHundredFourSongsPerSoundtrack) {
  for (int i = 0; i < 510; ++i) Touch(Numbered("Rock/%03d.mp3", 509 - i));
  Touch("Rock/sub/later.mp3");
  const std::vector<Soundtrack> soundtracks = Scan();
  ASSERT_EQ(soundtracks.size(), 1u);
  ASSERT_EQ(soundtracks[0].songs.size(), 504u);
  EXPECT_EQ(soundtracks[0].songs.front().name, "000");
  EXPECT_EQ(soundtracks[0].songs.back().name, "503");
  EXPECT_EQ(warnings, std::vector<std::string>{"\"Rock\": songs past 504 left out"});
}

TEST_F(MusicScan, ExactlyAtTheLimitsNothingIsLeftOut) {
  std::vector<Soundtrack> soundtracks;
  std::vector<fs::path> files(504, music / "a.mp3");
  for (int i = 0; i < 100; ++i) AddSoundtrack(soundtracks, warnings, "S", files);
  AddSoundtrack(soundtracks, warnings, "Empty", {});
  EXPECT_EQ(soundtracks.size(), 100u);
  EXPECT_EQ(soundtracks.back().songs.size(), 504u);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MusicScan, FolderPathEndingInASeparatorGivesAnUnnamedSoundtrack) {
  Touch("a.mp3");
  const std::vector<Soundtrack> soundtracks = ScanMusicFolder(music / "", warnings);
  ASSERT_EQ(soundtracks.size(), 1u);
  EXPECT_EQ(soundtracks[0].name, "");
}

TEST_F(MusicScan, MissingFolderHasNoSoundtracks) {
  EXPECT_TRUE(ScanMusicFolder(scratch / "gone", warnings).empty());
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MusicScan, LinksAreFollowedButALoopIsWalkedOnce) {
  Touch("Real/a.mp3");
  Touch("elsewhere.mp3");
  std::error_code ec;
  fs::create_directory_symlink(music / "Real", music / "Real" / "again", ec);
  if (ec) GTEST_SKIP() << "this system makes no symbolic links: " << ec.message();
  fs::create_directory_symlink(music, music / "Top", ec);
  fs::create_symlink(music / "elsewhere.mp3", music / "Real" / "linked.mp3", ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(Describe(Scan(), music),
            (std::vector<std::string>{
                "Music: elsewhere.mp3",
                "Real: Real/a.mp3 Real/linked.mp3",
                "Top: Top/elsewhere.mp3 Top/Real/a.mp3 Top/Real/linked.mp3",
            }));
}

}  // namespace
}  // namespace launcher
