// ffprobe's and ffmpeg's output lines: any output, cut into lines as the child runner delivers
// them, gives a length in range and a song name that the soundtrack database holds within its
// slot, never a crash.
//
// Input: the child's output bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "music/ffmpeg_commands.h"
#include "music/soundtrack_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::string output(reinterpret_cast<const char*>(data), size);

  // Lines end at every CR or LF; empty lines are never delivered.
  ProbeResult probe;
  std::string last;
  std::string line;
  const auto deliver = [&] {
    if (line.empty()) return;
    ParseProbeLine(line, probe);
    KeepLastLine(line, last);
    line.clear();
  };
  for (const char c : output) {
    if (c == '\r' || c == '\n') {
      deliver();
    } else {
      line.push_back(c);
    }
  }
  deliver();

  Song song{"song.mp3", "song", DurationMs(probe.duration)};
  if (!probe.title.empty()) {
    song.name = probe.artist.empty() ? probe.title : probe.artist + " - " + probe.title;
  }
  const std::string db = BuildSoundtrackDb({Soundtrack{probe.artist, {song}}});
  Check(db.size() == kDbBlocksOffset + kDbPageSize, "the database of one song has one block");
  // The name slot is 64 bytes, of which at most 62 are written; the soundtrack's name ends
  // within its page.
  const std::size_t slot = kDbBlocksOffset + 64;
  Check(db[slot + 62] == 0 && db[slot + 63] == 0, "a song name ran past 31 units");
  Check(db.compare(kDbPageSize + 352 + 62, kDbPageSize - 352 - 62,
                   std::string(kDbPageSize - 352 - 62, '\0')) == 0,
        "a soundtrack name ran past 31 units");
  return 0;
}
