#include "music/music_scan.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/ascii.h"
#include "platform/platform.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

struct Listing {
  std::vector<fs::path> files;    // audio files
  std::vector<fs::path> folders;  // sub-folders
};

// Sorts with SoundtrackNameLess, computing each entry's key once.
void SortByName(std::vector<fs::path>& paths) {
  std::vector<std::pair<std::string, fs::path>> keyed;
  keyed.reserve(paths.size());
  for (fs::path& path : paths) {
    keyed.emplace_back(AsciiLower(PathToUtf8(path.filename())), std::move(path));
  }
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  paths.clear();
  for (auto& entry : keyed) paths.push_back(std::move(entry.second));
}

// One level of `dir`, links followed, each list sorted. A folder that cannot be listed (refused
// permission, a device gone) lists as empty.
Listing ListFolder(const fs::path& dir) {
  Listing listing;
  std::error_code ec;
  fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code status_ec;
    const fs::file_status status = fs::status(it->path(), status_ec);
    if (status_ec) continue;
    if (fs::is_directory(status)) {
      listing.folders.push_back(it->path());
    } else if (fs::is_regular_file(status) && IsAudioFile(it->path())) {
      listing.files.push_back(it->path());
    }
  }
  SortByName(listing.files);
  SortByName(listing.folders);
  return listing;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The folder's identity for telling a loop of links: its canonical path, or the path itself
// when that cannot be had.
fs::path Identity(const fs::path& dir) {
  std::error_code ec;
  fs::path canonical = fs::canonical(dir, ec);
  return ec ? dir : canonical;
}

// CollectSongs below the folders of `walk` (the current chain, outermost first). A sub-folder
// that is one of them (a link back up the tree) is passed over: following it would never end.
void Collect(const fs::path& dir, std::vector<fs::path>& files, std::vector<fs::path>& walk) {
  Listing listing = ListFolder(dir);
  files.insert(files.end(), listing.files.begin(), listing.files.end());
  for (const fs::path& folder : listing.folders) {
    fs::path identity = Identity(folder);
    if (std::find(walk.begin(), walk.end(), identity) != walk.end()) continue;
    walk.push_back(std::move(identity));
    Collect(folder, files, walk);
    walk.pop_back();
  }
}

}  // namespace

bool IsAudioFile(const fs::path& path) {
  static constexpr std::array<std::string_view, 10> kExtensions = {
      ".mp3", ".flac", ".ogg", ".opus", ".m4a", ".aac", ".wav", ".wma", ".aiff", ".aif"};
  const std::string extension = AsciiLower(PathToUtf8(path.extension()));
  return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

bool SoundtrackNameLess(const fs::path& a, const fs::path& b) {
  // std::string compares its bytes as unsigned char, and a prefix sorts first.
  return AsciiLower(PathToUtf8(a.filename())) < AsciiLower(PathToUtf8(b.filename()));
}

void AddSoundtrack(std::vector<Soundtrack>& soundtracks, std::vector<std::string>& warnings,
                   const std::string& name, const std::vector<fs::path>& files) {
  if (files.empty()) return;
  if (soundtracks.size() >= kMaxSoundtracks) {
    warnings.push_back(Quoted(name) + " left out: an Xbox holds " +
                       std::to_string(kMaxSoundtracks) + " soundtracks");
    return;
  }
  Soundtrack soundtrack;
  soundtrack.name = name;
  for (const fs::path& file : files) {
    if (soundtrack.songs.size() >= kMaxSongsPerSoundtrack) {
      warnings.push_back(Quoted(name) + ": songs past " + std::to_string(kMaxSongsPerSoundtrack) +
                         " left out");
      break;
    }
    soundtrack.songs.push_back(Song{file, PathToUtf8(file.stem()), 0});
  }
  soundtracks.push_back(std::move(soundtrack));
}

void CollectSongs(const fs::path& dir, std::vector<fs::path>& files) {
  std::vector<fs::path> walk{Identity(dir)};
  Collect(dir, files, walk);
}

std::vector<Soundtrack> ScanMusicFolder(const fs::path& folder, std::vector<std::string>& warnings) {
  std::vector<Soundtrack> soundtracks;
  const Listing listing = ListFolder(folder);
  AddSoundtrack(soundtracks, warnings, PathToUtf8(folder.filename()), listing.files);
  for (const fs::path& sub : listing.folders) {
    std::vector<fs::path> files;
    std::vector<fs::path> walk{Identity(folder), Identity(sub)};
    Collect(sub, files, walk);
    AddSoundtrack(soundtracks, warnings, PathToUtf8(sub.filename()), files);
  }
  return soundtracks;
}

}  // namespace launcher
