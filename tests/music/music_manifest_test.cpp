#include "music/music_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

TEST(MusicManifest, WrittenTextReadsBack) {
  MusicManifest manifest;
  manifest["/music/b.mp3"] = {kUnknownSize, kUnknownTime, "0001/00010001.WMA", "Caf\xC3\xA9", 4294967295u};
  manifest["/music/a.mp3"] = {123, 133000000000000000, "0001/00010000.WMA", "A", 1000};
  const std::string text = MusicManifestText(manifest);
  EXPECT_EQ(text,
            "{\n"
            " \"/music/a.mp3\": {\n"
            "  \"file\": \"0001/00010000.WMA\",\n"
            "  \"ms\": 1000,\n"
            "  \"name\": \"A\",\n"
            "  \"size\": 123,\n"
            "  \"time\": 133000000000000000\n"
            " },\n"
            " \"/music/b.mp3\": {\n"
            "  \"file\": \"0001/00010001.WMA\",\n"
            "  \"ms\": 4294967295,\n"
            "  \"name\": \"Caf\xC3\xA9\",\n"
            "  \"size\": 18446744073709551615,\n"
            "  \"time\": -9223372036854775808\n"
            " }\n"
            "}");
  const MusicManifest back = ParseMusicManifest(text);
  ASSERT_EQ(back.size(), 2u);
  const ManifestEntry& b = back.at("/music/b.mp3");
  EXPECT_EQ(b.size, kUnknownSize);
  EXPECT_EQ(b.time, kUnknownTime);
  EXPECT_EQ(b.file, "0001/00010001.WMA");
  EXPECT_EQ(b.name, "Caf\xC3\xA9");
  EXPECT_EQ(b.ms, 4294967295u);
}

TEST(MusicManifest, NamesThatAreNotUtf8AreMendedNotRefused) {
  MusicManifest manifest;
  manifest["/music/\xFF.mp3"] = {1, 2, "0001/00010000.WMA", "bad \xC3", 3};
  const MusicManifest back = ParseMusicManifest(MusicManifestText(manifest));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back.begin()->second.name, "bad \xEF\xBF\xBD");
}

TEST(MusicManifest, ValuesOfAnotherTypeMakeTheMemberUnusable) {
  const std::string text = R"({
    "defaults": {},
    "negative time": {"time": -5, "size": 0},
    "size as text": {"size": "12"},
    "negative size": {"size": -1},
    "time as fraction": {"time": 1.5},
    "time too large": {"time": 9223372036854775808},
    "file as number": {"file": 1},
    "name as null": {"name": null},
    "ms too large": {"ms": 4294967296},
    "not an object": [1, 2]
  })";
  const MusicManifest manifest = ParseMusicManifest(text);
  ASSERT_EQ(manifest.size(), 2u);
  const ManifestEntry& defaults = manifest.at("defaults");
  EXPECT_EQ(defaults.size, 0u);
  EXPECT_EQ(defaults.time, 0);
  EXPECT_EQ(defaults.file, "");
  EXPECT_FALSE(defaults.name.has_value());
  EXPECT_EQ(defaults.ms, 0u);
  EXPECT_EQ(manifest.at("negative time").time, -5);
}

TEST(MusicManifest, AnythingButAnObjectIsEmpty) {
  for (const char* text : {"", "not json", "[]", "null", "42", "{\"a\": ", "\"text\""}) {
    EXPECT_TRUE(ParseMusicManifest(text).empty()) << text;
  }
}

}  // namespace
}  // namespace launcher
