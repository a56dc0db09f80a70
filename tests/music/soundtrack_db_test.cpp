#include "music/soundtrack_db.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "music/db_reader.h"

namespace launcher {
namespace {

using test::DbReader;

Soundtrack MakeSoundtrack(const std::string& name, int songs, uint32_t ms = 1000) {
  Soundtrack soundtrack;
  soundtrack.name = name;
  for (int i = 0; i < songs; ++i) {
    soundtrack.songs.push_back(Song{"x.mp3", "song " + std::to_string(i), ms + uint32_t(i)});
  }
  return soundtrack;
}

TEST(SoundtrackDb, EmptyListIsHeaderAndEmptyPages) {
  const std::string db = BuildSoundtrackDb({});
  ASSERT_EQ(db.size(), 51712u);
  const DbReader read(db);
  EXPECT_EQ(read.U32(0), 1u);
  EXPECT_EQ(read.U32(4), 0u);
  EXPECT_EQ(read.U32(8), 1u);
  EXPECT_TRUE(read.ZeroFrom(12, db.size()));
}

TEST(SoundtrackDb, OneSoundtrackOfSevenSongs) {
  const std::string db = BuildSoundtrackDb({MakeSoundtrack("Rock", 7)});
  ASSERT_EQ(db.size(), 52736u);
  const DbReader read(db);
  EXPECT_EQ(read.U32(0), 1u);
  EXPECT_EQ(read.U32(4), 1u);
  EXPECT_EQ(read.U32(8), 2u);
  EXPECT_EQ(read.U32(12), 1u);
  EXPECT_TRUE(read.ZeroFrom(16, 512));

  EXPECT_EQ(db.substr(512, 4), std::string("\x71\x13\x02\x00", 4));
  EXPECT_EQ(read.U32(516), 1u);
  EXPECT_EQ(read.U32(520), 7u);
  EXPECT_EQ(read.U32(524), 0u);
  EXPECT_EQ(read.U32(528), 1u);
  EXPECT_TRUE(read.ZeroFrom(532, 512 + 348));
  EXPECT_EQ(read.U32(512 + 348), 7u * 1000 + (0 + 1 + 2 + 3 + 4 + 5 + 6));
  EXPECT_EQ(read.Name(512 + 352), u"Rock");
  EXPECT_TRUE(read.ZeroFrom(512 + 352 + 8, 1024));
  EXPECT_TRUE(read.ZeroFrom(1024, 51712));

  const std::size_t b0 = read.BlockPage(0);
  EXPECT_EQ(db.substr(b0, 4), std::string("\x73\x10\x03\x00", 4));
  EXPECT_EQ(read.U32(b0 + 4), 1u);
  EXPECT_EQ(read.U32(b0 + 8), 0u);
  EXPECT_EQ(read.U32(b0 + 12), 0u);
  for (uint32_t j = 0; j < 6; ++j) {
    EXPECT_EQ(read.U32(b0 + 16 + 4 * j), 0x10000u + j);
    EXPECT_EQ(read.U32(b0 + 40 + 4 * j), 1000u + j);
    EXPECT_EQ(read.Name(b0 + 64 + 64 * j), u"song " + std::u16string(1, char16_t(u'0' + j)));
  }

  const std::size_t b1 = read.BlockPage(1);
  EXPECT_EQ(read.U32(b1 + 4), 1u);
  EXPECT_EQ(read.U32(b1 + 8), 1u);
  EXPECT_EQ(read.U32(b1 + 16), 0x10006u);
  EXPECT_EQ(read.U32(b1 + 40), 1006u);
  EXPECT_EQ(read.Name(b1 + 64), u"song 6");
  EXPECT_TRUE(read.ZeroFrom(b1 + 20, b1 + 40));
  EXPECT_TRUE(read.ZeroFrom(b1 + 44, b1 + 64));
  EXPECT_TRUE(read.ZeroFrom(b1 + 128, b1 + 512));
}

TEST(SoundtrackDb, BlocksAreNumberedAcrossSoundtracks) {
  const std::string db = BuildSoundtrackDb({MakeSoundtrack("A", 6), MakeSoundtrack("B", 1)});
  ASSERT_EQ(db.size(), 51712u + 2 * 512);
  const DbReader read(db);
  EXPECT_EQ(read.U32(4), 2u);
  EXPECT_EQ(read.U32(8), 3u);
  EXPECT_EQ(read.U32(12), 1u);
  EXPECT_EQ(read.U32(16), 2u);
  EXPECT_EQ(read.U32(512 + 12), 0u);
  EXPECT_EQ(read.U32(1024 + 4), 2u);
  EXPECT_EQ(read.U32(1024 + 8), 1u);
  EXPECT_EQ(read.U32(1024 + 12), 1u);  // the second soundtrack's only block is global block 1
  EXPECT_EQ(read.Name(1024 + 352), u"B");
  const std::size_t b1 = read.BlockPage(1);
  EXPECT_EQ(read.U32(b1 + 4), 2u);
  EXPECT_EQ(read.U32(b1 + 8), 0u);
  EXPECT_EQ(read.U32(b1 + 16), 0x20000u);
}

TEST(SoundtrackDb, FullSoundtrackFillsItsBlockListUpToTheTotal) {
  const std::string db = BuildSoundtrackDb({MakeSoundtrack("Full", 504, 1)});
  ASSERT_EQ(db.size(), 51712u + 84 * 512);
  const DbReader read(db);
  EXPECT_EQ(read.U32(520), 504u);
  for (uint32_t k = 0; k < 84; ++k) EXPECT_EQ(read.U32(512 + 12 + 4 * k), k);
  EXPECT_EQ(read.U32(512 + 348), 504u * 1 + 503u * 504 / 2);
  const std::size_t last = read.BlockPage(83);
  EXPECT_EQ(read.U32(last + 8), 83u);
  EXPECT_EQ(read.U32(last + 16 + 4 * 5), 0x10000u + 503);
}

// Songs past 504 would push the block list over the total, the name and the next page; they
// are left out of the database.
TEST(SoundtrackDb, SongsPastTheLimitAreNotWritten) {
  const std::string db = BuildSoundtrackDb({MakeSoundtrack("Long", 520, 0), MakeSoundtrack("Next", 1)});
  ASSERT_EQ(db.size(), 51712u + 85 * 512);
  const DbReader read(db);
  EXPECT_EQ(read.U32(520), 504u);
  EXPECT_EQ(read.Name(512 + 352), u"Long");
  EXPECT_EQ(read.U32(1024 + 12), 84u);
}

TEST(SoundtrackDb, LengthTotalWrapsAt32Bits) {
  Soundtrack soundtrack = MakeSoundtrack("Long", 2);
  soundtrack.songs[0].ms = 0xFFFFFFFFu;
  soundtrack.songs[1].ms = 5;
  const std::string db = BuildSoundtrackDb({soundtrack});
  const DbReader read(db);
  EXPECT_EQ(read.U32(512 + 348), 4u);
  EXPECT_EQ(read.U32(read.BlockPage(0) + 40), 0xFFFFFFFFu);
}

TEST(SoundtrackDb, OnlyTheFirstHundredSoundtracksAreWritten) {
  std::vector<Soundtrack> soundtracks;
  for (int i = 0; i < 102; ++i) soundtracks.push_back(MakeSoundtrack("S" + std::to_string(i), 1));
  const std::string db = BuildSoundtrackDb(soundtracks);
  // The size still counts every soundtrack's blocks; the two past the limit stay zero.
  ASSERT_EQ(db.size(), 51712u + 102 * 512);
  const DbReader read(db);
  EXPECT_EQ(read.U32(4), 100u);
  EXPECT_EQ(read.U32(8), 101u);
  EXPECT_EQ(read.U32(12 + 4 * 99), 100u);
  EXPECT_TRUE(read.ZeroFrom(12 + 4 * 100, 512));
  EXPECT_EQ(read.U32(read.SoundtrackPage(100) + 4), 100u);
  EXPECT_EQ(read.Name(read.SoundtrackPage(100) + 352), u"S99");
  EXPECT_EQ(read.U32(read.BlockPage(99) + 4), 100u);
  EXPECT_TRUE(read.ZeroFrom(read.BlockPage(100), db.size()));
}

TEST(SoundtrackDb, NamesAsUtf16) {
  const std::string thirty(30, 'a');
  const std::u16string thirty16(30, u'a');
  const struct {
    const char* what;
    std::string name;
    std::u16string units;
  } cases[] = {
      {"empty", "", u""},
      {"ascii", "Rock", u"Rock"},
      {"two-byte", "Caf\xC3\xA9", u"Caf\u00E9"},
      {"three-byte", "\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
      {"four-byte becomes a pair", "\xF0\x9F\x8E\xB5", u"\U0001F3B5"},
      {"forty ascii are cut to 31", std::string(40, 'x'), std::u16string(31, u'x')},
      {"31 units fit", std::string(31, 'y'), std::u16string(31, u'y')},
      {"32 units are cut", std::string(32, 'y'), std::u16string(31, u'y')},
      {"a pair after 29 units fits", std::string(29, 'a') + "\xF0\x9F\x8E\xB5",
       std::u16string(29, u'a') + u"\U0001F3B5"},
      {"a pair after 30 units is not cut in half", thirty + "\xF0\x9F\x8E\xB5z", thirty16},
      {"a single unit after a dropped pair is not taken", thirty + "\xF0\x9F\x8E\xB5" + "b",
       thirty16},
      {"stray continuation byte", "a\x80z", u"a\u0080z"},
      {"byte below 0xC0", "\xBF", u"\u00BF"},
      {"sequence cut short keeps its bits", "a\xE4\xB8", u"a\u0138"},
      {"continuation bits taken whatever their high bits", "\xC3" "A", u"\u00C1"},
  };
  for (const auto& c : cases) {
    std::string buffer(128, '\0');
    WriteDbName(buffer, 2, c.name);
    const DbReader read(buffer);
    EXPECT_EQ(read.Name(2), c.units) << c.what;
    EXPECT_EQ(buffer[0], 0) << c.what;
    EXPECT_TRUE(read.ZeroFrom(2 + 2 * c.units.size(), buffer.size())) << c.what;
  }
}

TEST(SoundtrackDb, SongFileNames) {
  const struct {
    unsigned soundtrack;
    int index;
    const char* name;
  } cases[] = {
      {1, 0, "0001/00010000.WMA"},
      {10, 5, "000a/000a0005.WMA"},
      {100, 503, "0064/006401f7.WMA"},
  };
  for (const auto& c : cases) EXPECT_EQ(SongFileName(c.soundtrack, c.index), c.name);
}

}  // namespace
}  // namespace launcher
