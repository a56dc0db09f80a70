// The player's music folder as the game's soundtracks: the folder's own audio files make one
// soundtrack named after it, each sub-folder another with every audio file below it. The game
// takes at most 100 soundtracks of at most 504 songs; what does not fit is left out with a
// warning.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher {

inline constexpr std::size_t kMaxSoundtracks = 100;
inline constexpr std::size_t kMaxSongsPerSoundtrack = 504;

struct Song {
  std::filesystem::path path;  // the source file: the chosen folder joined with its relative path
  std::string name;            // the name the game shows, UTF-8 (the file's stem from the scan)
  uint32_t ms = 0;             // the length in milliseconds; 0 until the import probes it
};

struct Soundtrack {
  std::string name;         // the folder's own name, UTF-8
  std::vector<Song> songs;  // at most 504, in the scan's order
};

// The soundtracks of `folder`, at most 100 and none empty; what the limits leave out is
// described in `warnings` (appended to). A folder that cannot be listed counts as empty.
std::vector<Soundtrack> ScanMusicFolder(const std::filesystem::path& folder,
                                        std::vector<std::string>& warnings);

// The file's last extension, lower-cased (ASCII), is one of the audio extensions the game's
// converter takes: .mp3 .flac .ogg .opus .m4a .aac .wav .wma .aiff .aif.
bool IsAudioFile(const std::filesystem::path& path);

// The order of files and folders alike: the last path components, UTF-8 and lower-cased
// (ASCII), compared as unsigned bytes; a prefix sorts first.
bool SoundtrackNameLess(const std::filesystem::path& a, const std::filesystem::path& b);

// Appends a soundtrack of `files` (already sorted) named `name`, within the limits: nothing for
// no files, a warning instead of a 101st soundtrack, a warning and the first 504 songs of a
// longer list.
void AddSoundtrack(std::vector<Soundtrack>& soundtracks, std::vector<std::string>& warnings,
                   const std::string& name, const std::vector<std::filesystem::path>& files);

// Appends every audio file in and below `dir`: the folder's own files first, then each
// sub-folder's, depth first, each level sorted with SoundtrackNameLess.
void CollectSongs(const std::filesystem::path& dir, std::vector<std::filesystem::path>& files);

}  // namespace launcher
