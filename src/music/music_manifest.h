// "launcher-music.json": what the last import converted, so that the next one keeps the songs
// that did not change. One member per song, keyed by the source file's path (UTF-8):
//   {"file": "0001/00010000.WMA", "ms": 215000, "name": "Artist - Title",
//    "size": <source bytes>, "time": <source last-write time>}
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace launcher {

// Written when the source's size or time could not be read.
inline constexpr uint64_t kUnknownSize = std::numeric_limits<uint64_t>::max();
inline constexpr int64_t kUnknownTime = std::numeric_limits<int64_t>::min();

struct ManifestEntry {
  uint64_t size = 0;               // the source's size when it was converted
  int64_t time = 0;                // the source's last-write time then
  std::string file;                // the song's file, relative to the soundtrack folder
  std::optional<std::string> name; // the display name; none when the member had none
  uint32_t ms = 0;                 // the song's length in milliseconds
};

using MusicManifest = std::map<std::string, ManifestEntry>;

// The members of a manifest text. A text that is not a JSON object reads as empty; a member
// that is not an object, or whose values have other types or ranges than written, is left
// out (its song is converted again). Absent values get the defaults above.
MusicManifest ParseMusicManifest(const std::string& text);

// The manifest as written: keys sorted, one space of indent per level, UTF-8 unescaped (a
// byte sequence that is not UTF-8 is replaced rather than refused).
std::string MusicManifestText(const MusicManifest& manifest);

}  // namespace launcher
