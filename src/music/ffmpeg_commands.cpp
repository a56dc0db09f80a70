#include "music/ffmpeg_commands.h"

#include <charconv>
#include <cmath>

#include "platform/ascii.h"

namespace launcher {

void ParseProbeLine(const std::string& line, ProbeResult& probe) {
  static constexpr std::string_view kDuration = "duration=";
  static constexpr std::string_view kTitle = "tag:title=";
  static constexpr std::string_view kArtist = "tag:artist=";
  if (StartsWith(line, kDuration)) {
    // from_chars reads the C locale's decimal point whatever the launcher's locale is.
    const char* first = line.data() + kDuration.size();
    double value = 0;
    const auto [end, error] = std::from_chars(first, line.data() + line.size(), value);
    probe.duration = error == std::errc() && end != first ? value : 0;
    return;
  }
  const std::string lower = AsciiLower(line);
  if (StartsWith(lower, kTitle)) {
    probe.title = line.substr(kTitle.size());
  } else if (StartsWith(lower, kArtist)) {
    probe.artist = line.substr(kArtist.size());
  }
}

void KeepLastLine(const std::string& line, std::string& kept) { kept = line; }

uint32_t DurationMs(double seconds) {
  const double ms = std::trunc(seconds * 1000);
  if (!(ms > 0)) return 0;  // negative, zero or not a number
  if (ms >= 4294967295.0) return 4294967295u;
  return uint32_t(ms);
}

std::vector<std::string> ProbeCommand(const std::string& ffprobe, const std::string& source) {
  return {ffprobe, "-v", "error", "-show_entries", "format=duration:format_tags=title,artist",
          "-of", "default=noprint_wrappers=1", source};
}

std::vector<std::string> ConvertCommand(const std::string& ffmpeg, const std::string& source,
                                        const std::string& output) {
  return {ffmpeg, "-nostdin", "-y",   "-v",    "error", "-i",    source,  "-vn",
          "-map_metadata", "-1", "-ac", "2", "-ar", "44100", "-c:a", "wmav2", "-b:a", "160k",
          output};
}

}  // namespace launcher
