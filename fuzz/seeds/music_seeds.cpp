// Starting inputs of the music targets: ffprobe's output for a tagged song, ffmpeg's complaint,
// and a manifest as an import writes it.
#include <string>

#include "music/music_manifest.h"
#include "seeds/seeds.h"

namespace launcher::fuzz {
namespace {

void MakeProbeSeeds(Seeds& out) {
  out.Add("tagged", "duration=215.373000\nTAG:title=Song Title\nTAG:artist=Some Band\n");
  out.Add("untagged", "duration=N/A\r\n");
  out.Add("long_name", "TAG:TITLE=" + std::string(40, 'x') + "\xF0\x9F\x8E\xB5\nTAG:ARTIST=\xC3\xA9\n");
  out.Add("ffmpeg_error", "/music/x.mp3: Invalid data found when processing input\n");
}

void MakeManifestSeeds(Seeds& out) {
  MusicManifest manifest;
  manifest["/music/Rock/a.mp3"] = {4096, 133000000000000000, "0001/00010000.WMA", "Band - A", 215373};
  manifest["/music/b.flac"] = {kUnknownSize, kUnknownTime, "0002/00020000.WMA", "b", 0};
  out.Add("written", MusicManifestText(manifest));
  out.Add("odd_types", R"({"a": {"size": "1", "time": 1.5}, "b": [], "c": {}})");
}

const bool registered = RegisterSeeds("ffprobe_lines", MakeProbeSeeds) &&
                        RegisterSeeds("music_manifest", MakeManifestSeeds);

}  // namespace
}  // namespace launcher::fuzz
