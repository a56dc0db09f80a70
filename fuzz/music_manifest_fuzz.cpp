// launcher-music.json as the disk may hold it: any file reads without a crash, and what is read
// is written back as a manifest that reads the same.
//
// Input: the file's bytes.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "music/music_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const MusicManifest manifest =
      ParseMusicManifest(std::string(reinterpret_cast<const char*>(data), size));
  const MusicManifest back = ParseMusicManifest(MusicManifestText(manifest));
  Check(back.size() == manifest.size(), "a member was lost on the way back");
  for (const auto& [key, entry] : manifest) {
    const auto found = back.find(key);
    Check(found != back.end(), "the key " + key + " was lost on the way back");
    const ManifestEntry& again = found->second;
    Check(again.size == entry.size && again.time == entry.time && again.file == entry.file &&
              again.ms == entry.ms && again.name == entry.name.value_or(""),
          "the member " + key + " reads differently once written");
  }
  return 0;
}
