// The music import: the player's folder of music becomes the game's custom soundtracks. Songs
// are converted several at once but taken in order, so the staged files, their names and ids,
// ST.DB, the manifest and the progress reports come out as if they were converted one by one.
// Songs that did not change since the last import are only moved, never converted again.
#include <algorithm>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "builder/builder.h"
#include "builder/file_ops.h"
#include "music/music_manifest.h"
#include "music/music_scan.h"
#include "music/song_conversion.h"
#include "music/soundtrack_db.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr const char* kManifestName = "launcher-music.json";
constexpr const char* kDbName = "ST.DB";
constexpr const char* kStagingName = ".staging";
constexpr const char* kTitle = "Converting your music";

// One song as the import found it: its manifest key, its source's size and time now, and the
// old manifest's member when the song's converted file may be kept.
struct SongState {
  std::string key;
  uint64_t size = kUnknownSize;
  int64_t time = kUnknownTime;
  const ManifestEntry* keep = nullptr;
};

// What one import has done so far, in order.
struct ImportState {
  // (staged file, final name relative to the soundtrack folder), one per song that made it.
  std::vector<std::pair<fs::path, std::string>> staged;
  std::vector<std::string> staged_keys;  // the manifest key of each staged entry
  // (staged file, where it was before), one per kept song: what a stop puts back.
  std::vector<std::pair<fs::path, fs::path>> moved;
  MusicManifest manifest;
  int kept = 0;
  int converted = 0;
  int failed = 0;
};

// "%04x/%08x.WMA", the only form of song file the import writes. A manifest naming anything
// else (a folder, a path out of the soundtrack folder) is not followed.
bool IsSongFileName(const std::string& name) {
  if (name.size() != 17 || name[4] != '/' || name.compare(13, 4, ".WMA") != 0) return false;
  for (std::size_t i = 0; i < 13; ++i) {
    if (i == 4) continue;
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

SongState ExamineSong(const Song& song, const MusicManifest& old_manifest,
                      const fs::path& soundtracks) {
  SongState state;
  state.key = PathToUtf8(song.path);
  std::error_code ec;
  const uint64_t size = fs::file_size(song.path, ec);
  state.size = ec ? kUnknownSize : size;
  int64_t ticks = 0;
  state.time = LastWriteTicks(song.path, ticks) ? ticks : kUnknownTime;
  const auto found = old_manifest.find(state.key);
  if (found == old_manifest.end()) return state;
  const ManifestEntry& entry = found->second;
  if (entry.size != state.size || entry.time != state.time || !IsSongFileName(entry.file)) {
    return state;
  }
  if (fs::exists(soundtracks / PathFromUtf8(entry.file), ec)) state.keep = &entry;
  return state;
}

void ApplyProbe(const ProbeResult& probe, Song& song) {
  if (!probe.title.empty()) {
    song.name = probe.artist.empty() ? probe.title : probe.artist + " - " + probe.title;
  }
  song.ms = DurationMs(probe.duration);
}

// Removes the soundtrack folder's sub-folders (all the old song files) but the staging folder.
void RemoveSoundtrackFolders(const fs::path& soundtracks, const fs::path& staging) {
  std::vector<fs::path> folders;
  std::error_code ec;
  for (fs::directory_iterator it(soundtracks, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code status_ec;
    if (it->path() != staging && fs::is_directory(it->path(), status_ec)) {
      folders.push_back(it->path());
    }
  }
  std::string ignored;
  for (const fs::path& folder : folders) RemoveTree(folder, ignored);
}

void WriteManifest(const fs::path& file, const MusicManifest& manifest) {
  // Text mode: CR LF line ends on Windows.
  std::ofstream out(file, std::ios::out | std::ios::trunc);
  if (out) out << MusicManifestText(manifest);
}

unsigned ConversionThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

fs::path Builder::SoundtrackFolder() const {
  return PlayFolder() / "hdd" / "E" / "TDATA" / "FFFE0000" / "MUSIC";
}

fs::path Builder::SavedMusicFolder() const { return PathFromUtf8(SettingText("music")); }

bool Builder::RollBackMusic(const std::vector<std::pair<fs::path, fs::path>>& moved,
                            const fs::path& staging, std::string& error) {
  std::string ignored;
  for (const auto& [staged, original] : moved) MoveReplacing(staged, original, ignored);
  RemoveTree(staging, ignored);
  error = "cancelled";
  return false;
}

bool Builder::ImportMusic(const fs::path& folder, std::string& summary, std::string& error) {
  cancel = false;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    error = "The music folder is not there: " + PathToUtf8(folder);
    return false;
  }

  Converters converters{"ffprobe", "ffmpeg", folder, &cancel};
  const std::string suffix = platform->ExeSuffix();
  if (!suffix.empty()) {
    // Where programs carry a suffix, the converters are the toolchain's "ffmpeg" tool; elsewhere
    // the system's own are found through the search path.
    if (!LoadToolchain(toolchain, error, false)) return false;
    const auto tool = std::find_if(toolchain.tools.begin(), toolchain.tools.end(),
                                   [](const Tool& t) { return t.id == "ffmpeg"; });
    if (tool == toolchain.tools.end()) {
      error = "toolchain.json lists no ffmpeg, which converts the music";
      return false;
    }
    if (!InstallTool(*tool, error)) return false;
    const fs::path bin = ToolFolder("ffmpeg") / "bin";
    converters.ffmpeg = PathToUtf8(bin / PathFromUtf8("ffmpeg" + suffix));
    converters.ffprobe = PathToUtf8(bin / PathFromUtf8("ffprobe" + suffix));
  }

  const fs::path soundtracks = SoundtrackFolder();
  const fs::path staging = soundtracks / kStagingName;
  const fs::path manifest_file = soundtracks / kManifestName;
  const fs::path db_file = soundtracks / kDbName;
  std::error_code db_ec;
  std::error_code manifest_ec;
  if (fs::exists(db_file, db_ec) && !fs::exists(manifest_file, manifest_ec)) {
    error = "The game's music folder holds soundtracks not made here (copied from an Xbox?): " +
            PathToUtf8(soundtracks) + ". Move them away to use a folder of your own music.";
    return false;
  }

  std::vector<std::string> warnings;
  std::vector<Soundtrack> list = ScanMusicFolder(folder, warnings);
  for (const std::string& warning : warnings) Log("music: " + warning);
  std::size_t total = 0;
  for (const Soundtrack& soundtrack : list) total += soundtrack.songs.size();
  if (total == 0) {
    error = "No music found in " + PathToUtf8(folder) +
            " (MP3, FLAC, OGG, Opus, M4A, AAC, WAV, WMA or AIFF files)";
    return false;
  }

  std::string old_text;
  const MusicManifest old_manifest =
      ReadWholeFile(manifest_file, old_text) ? ParseMusicManifest(old_text) : MusicManifest();
  std::string ignored;
  RemoveTree(staging, ignored);
  fs::create_directories(staging, ec);

  // Every song's state now, and the conversions of those that cannot be kept queued at once:
  // they run ahead, one per processor, while the songs are taken in order below.
  std::vector<SongState> states;
  states.reserve(total);
  for (const Soundtrack& soundtrack : list) {
    for (const Song& song : soundtrack.songs) states.push_back(ExamineSong(song, old_manifest, soundtracks));
  }
  auto converted_file = [&](std::size_t index) {
    return staging / ("c" + std::to_string(index) + ".WMA");
  };
  ImportState run;
  bool stopped = false;
  {
    SongConversionQueue queue(*platform, converters, ConversionThreads());
    std::size_t index = 0;
    for (const Soundtrack& soundtrack : list) {
      for (const Song& song : soundtrack.songs) {
        if (states[index].keep == nullptr) queue.Add(index, SongJob{song.path, converted_file(index)});
        ++index;
      }
    }

    std::size_t done = 0;
    for (std::size_t i = 0; i < list.size() && !stopped; ++i) {
      std::vector<Song> made;
      for (Song& song : list[i].songs) {
        if (cancel) {
          stopped = true;
          break;
        }
        const std::size_t current = done++;
        Progress(kTitle,
                 std::to_string(current + 1) + " of " + std::to_string(total) + ": " +
                     PathToUtf8(song.path.filename()),
                 double(current) / double(total));
        const SongState& state = states[current];
        const fs::path staged = soundtracks / kStagingName / (std::to_string(run.staged.size()) + ".WMA");

        bool ready = false;
        bool queued = state.keep == nullptr;
        if (state.keep != nullptr) {
          song.name = state.keep->name.value_or(song.name);
          song.ms = state.keep->ms;
          const fs::path old_file = soundtracks / PathFromUtf8(state.keep->file);
          if (MoveReplacing(old_file, staged, ignored)) {
            run.moved.emplace_back(staged, old_file);
            ++run.kept;
            ready = true;
          }
        }
        if (!ready) {
          const SongConversion result =
              queued ? queue.Take(current)
                     : ConvertSong(*platform, converters, SongJob{song.path, converted_file(current)});
          ApplyProbe(result.probe, song);
          if (cancel) {
            stopped = true;
            break;
          }
          if (result.converted && MoveReplacing(converted_file(current), staged, ignored)) {
            ++run.converted;
          } else {
            Log("music: " + state.key + " could not be converted" +
                (result.last_line.empty() ? "" : ": " + result.last_line));
            ++run.failed;
            continue;
          }
        }

        const std::string name = SongFileName(unsigned(i + 1), int(made.size()));
        run.staged.emplace_back(staged, name);
        run.staged_keys.push_back(state.key);
        run.manifest[state.key] = ManifestEntry{state.size, state.time, name, song.name, song.ms};
        made.push_back(song);
      }
      if (!stopped) list[i].songs = std::move(made);
    }
  }  // the queue is gone: no converter runs any more
  if (stopped) return RollBackMusic(run.moved, staging, error);

  // From here on the import runs to its end: soundtracks whose songs all failed drop out, and
  // the rest are numbered again.
  std::erase_if(list, [](const Soundtrack& soundtrack) { return soundtrack.songs.empty(); });
  std::size_t entry = 0;
  for (std::size_t j = 0; j < list.size(); ++j) {
    for (std::size_t s = 0; s < list[j].songs.size(); ++s, ++entry) {
      const std::string name = SongFileName(unsigned(j + 1), int(s));
      run.staged[entry].second = name;
      run.manifest[run.staged_keys[entry]].file = name;
    }
  }

  RemoveSoundtrackFolders(soundtracks, staging);
  for (const auto& [staged, name] : run.staged) {
    const fs::path target = soundtracks / PathFromUtf8(name);
    fs::create_directories(target.parent_path(), ec);
    MoveReplacing(staged, target, ignored);
  }
  RemoveTree(staging, ignored);
  WriteWholeFile(db_file, BuildSoundtrackDb(list));
  WriteManifest(manifest_file, run.manifest);
  SetSetting("music", PathToUtf8(folder));

  summary = std::to_string(run.staged.size()) + " songs in " + std::to_string(list.size()) +
            " soundtracks";
  if (run.failed > 0) {
    summary += " (" + std::to_string(run.failed) + " could not be converted: see launcher.log)";
  }
  Log("music: " + summary + ", " + std::to_string(run.converted) + " converted, " +
      std::to_string(run.kept) + " kept from last time, from " + PathToUtf8(folder));
  Progress("Ready", "", 1.0);
  return true;
}

}  // namespace launcher
