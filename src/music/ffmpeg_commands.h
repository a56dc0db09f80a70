// What the music import asks of ffprobe and ffmpeg, and what it reads from their output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

// What ffprobe told of a song. Later lines overwrite earlier values.
struct ProbeResult {
  double duration = 0;  // seconds
  std::string title;
  std::string artist;
};

// One line of `ffprobe -of default=noprint_wrappers=1` output: "duration=<seconds>" (exact case;
// a value that does not begin with a number reads as 0), "TAG:title=<text>" and
// "TAG:artist=<text>" (the key in any case, the value as it is). Other lines are ignored.
void ParseProbeLine(const std::string& line, ProbeResult& probe);

// Keeps the latest output line: what ffmpeg said last is its reason for failing.
void KeepLastLine(const std::string& line, std::string& kept);

// The song's length in whole milliseconds: the duration times 1000, truncated toward zero and
// held to 0 ... 4294967295 (a negative, unknown or absurd duration gives a number in range).
uint32_t DurationMs(double seconds);

// ffprobe's command line: the duration and the title and artist tags of `source`.
std::vector<std::string> ProbeCommand(const std::string& ffprobe, const std::string& source);

// ffmpeg's command line: `source` to stereo WMA version 2 at 44100 Hz and 160 kbit/s in
// `output`, without video or copied metadata, replacing an old `output`.
std::vector<std::string> ConvertCommand(const std::string& ffmpeg, const std::string& source,
                                        const std::string& output);

}  // namespace launcher
