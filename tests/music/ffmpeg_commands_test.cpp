#include "music/ffmpeg_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace launcher {
namespace {

TEST(ProbeLines, LinesFillTheResult) {
  const struct {
    std::vector<std::string> lines;
    double duration;
    const char* title;
    const char* artist;
  } cases[] = {
      {{"duration=215.373"}, 215.373, "", ""},
      {{"duration=12.5 s"}, 12.5, "", ""},
      {{"duration=N/A"}, 0, "", ""},
      {{"duration="}, 0, "", ""},
      {{"Duration=12"}, 0, "", ""},  // the key's case counts for the duration only
      {{"duration=5", "duration=7"}, 7, "", ""},
      {{"duration=5", "duration=bad"}, 0, "", ""},
      {{"TAG:title=Song Title", "TAG:ARTIST=Some Band"}, 0, "Song Title", "Some Band"},
      {{"tag:Title=MiXeD=Case"}, 0, "MiXeD=Case", ""},
      {{"TAG:title=", "TAG:artist=x"}, 0, "", "x"},
      {{"TAG:title=first", "TAG:title=second"}, 0, "second", ""},
      {{"TAG:album=Nope", "title=Nope", "[FORMAT]", "TAG:titl"}, 0, "", ""},
  };
  for (const auto& c : cases) {
    ProbeResult probe;
    for (const std::string& line : c.lines) ParseProbeLine(line, probe);
    EXPECT_EQ(probe.duration, c.duration) << c.lines[0];
    EXPECT_EQ(probe.title, c.title) << c.lines[0];
    EXPECT_EQ(probe.artist, c.artist) << c.lines[0];
  }
}

TEST(ProbeLines, DurationInMilliseconds) {
  const struct {
    double seconds;
    uint32_t ms;
  } cases[] = {
      {0, 0},
      {1.9999, 1999},
      {215.373, 215373},
      {4294967.295, 4294967295u},
      {1e300, 4294967295u},
      {-3, 0},
      {std::numeric_limits<double>::infinity(), 4294967295u},
      {std::nan(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DurationMs(c.seconds), c.ms) << c.seconds;
}

TEST(ProbeLines, LastLineIsKept) {
  std::string kept;
  for (const char* line : {"first", "Error while decoding", "Conversion failed!"}) KeepLastLine(line, kept);
  EXPECT_EQ(kept, "Conversion failed!");
}

}  // namespace
}  // namespace launcher
