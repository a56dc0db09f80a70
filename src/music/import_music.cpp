// The music import: the player's folder of music becomes the game's custom soundtracks. Songs
// are converted several at once but taken in order, so the staged files, their names and ids,
// ST.DB, the manifest and the progress reports come out as if they were converted one by one.
// Songs that did not change since the last import are only moved, never converted again.
#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "builder/builder.h"
#include "music/music_manifest.h"
#include "music/music_scan.h"
#include "music/song_conversion.h"
#include "music/soundtrack_db.h"
#include "platform/file_ops.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr const char* kManifestName = "launcher-music.json";
constexpr const char* kDbName = "ST.DB";
constexpr const char* kStagingName = ".staging";

// One song as the import found it: its manifest key, its source's size and time now, and the
// old manifest's member when the song's converted file may be kept.
struct SongState {
  std::string key;
  uint64_t size = kUnknownSize;
  int64_t time = kUnknownTime;
  const ManifestEntry* keep = nullptr;
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

// Whether a song's stored last-write time is its time now. A stored time of whole seconds that
// is the time now cut to its second was read by an earlier launcher, which saw only whole
// seconds on Windows: it counts as the same, so that those songs are not all converted again.
// The next manifest stores the full time, so a song changed within that second is seen next
// time.
bool SameSongTime(int64_t stored, int64_t now) {
  constexpr int64_t kTicksPerSecond = 10000000;
  if (stored == now) return true;
  return now != kUnknownTime && stored % kTicksPerSecond == 0 &&
         stored == now - now % kTicksPerSecond;
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
  if (entry.size != state.size || !SameSongTime(entry.time, state.time) ||
      !IsSongFileName(entry.file)) {
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
// A link among them goes by itself; what it leads to is not the import's.
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

std::size_t SongCount(const std::vector<Soundtrack>& soundtracks) {
  std::size_t count = 0;
  for (const Soundtrack& soundtrack : soundtracks) count += soundtrack.songs.size();
  return count;
}

// One import from the first song taken to the files in place.
class MusicRun {
 public:
  MusicRun(Builder& builder, Platform& platform, Converters converters, fs::path soundtracks)
      : builder_(builder),
        platform_(platform),
        converters_(std::move(converters)),
        soundtracks_(std::move(soundtracks)),
        staging_(soundtracks_ / kStagingName) {}

  const fs::path& staging() const { return staging_; }
  const std::vector<std::pair<fs::path, fs::path>>& moved() const { return moved_; }

  // Takes every song in order, kept or converted, into the staging folder; each soundtrack is
  // left with the songs that made it. False when the cancel flag stopped it.
  bool TakeSongs(std::vector<Soundtrack>& soundtracks, const MusicManifest& old_manifest);
  // Numbers the soundtracks that still have songs again, moves the staged files to their final
  // names and writes ST.DB and the manifest. Runs to its end whatever the cancel flag says.
  void PutInPlace(std::vector<Soundtrack>& soundtracks);

  int kept() const { return kept_; }
  int converted() const { return converted_; }
  int failed() const { return failed_; }
  std::size_t staged_count() const { return staged_.size(); }

 private:
  // Where the queue converts song `index` (its place among all songs) before it is taken.
  fs::path ConvertedFile(std::size_t index) const {
    return staging_ / ("c" + std::to_string(index) + ".WMA");
  }
  // One song into the staging folder as `staged`; false when it is left out (or stopped).
  bool TakeSong(Song& song, const SongState& state, std::size_t index, const fs::path& staged,
                SongConversionQueue& queue, bool& stopped);

  Builder& builder_;
  Platform& platform_;
  const Converters converters_;
  const fs::path soundtracks_;
  const fs::path staging_;
  // (staged file, final name relative to the soundtrack folder), one per song that made it,
  // and each one's manifest key.
  std::vector<std::pair<fs::path, std::string>> staged_;
  std::vector<std::string> staged_keys_;
  // (staged file, where it was before), one per kept song: what a stop puts back.
  std::vector<std::pair<fs::path, fs::path>> moved_;
  MusicManifest manifest_;
  int kept_ = 0;
  int converted_ = 0;
  int failed_ = 0;
};

bool MusicRun::TakeSongs(std::vector<Soundtrack>& soundtracks, const MusicManifest& old_manifest) {
  std::vector<SongState> states;
  for (const Soundtrack& soundtrack : soundtracks) {
    for (const Song& song : soundtrack.songs) {
      states.push_back(ExamineSong(song, old_manifest, soundtracks_));
    }
  }
  // The songs that cannot be kept are queued at once: they convert ahead, one per processor,
  // while the loop below takes the songs in order. Leaving this function stops the converters
  // still running (the cancel flag ends them) before anything is rolled back.
  SongConversionQueue queue(platform_, converters_,
                            std::max(1u, std::thread::hardware_concurrency()));
  std::size_t index = 0;
  for (const Soundtrack& soundtrack : soundtracks) {
    for (const Song& song : soundtrack.songs) {
      if (states[index].keep == nullptr) queue.Add(index, SongJob{song.path, ConvertedFile(index)});
      ++index;
    }
  }

  const std::size_t total = states.size();
  std::size_t done = 0;
  for (std::size_t i = 0; i < soundtracks.size(); ++i) {
    std::vector<Song> made;
    for (Song& song : soundtracks[i].songs) {
      if (builder_.cancel) return false;
      const std::size_t current = done++;
      builder_.Progress("Converting your music",
                        std::to_string(current + 1) + " of " + std::to_string(total) + ": " +
                            PathToUtf8(song.path.filename()),
                        double(current) / double(total));
      const SongState& state = states[current];
      const fs::path staged = staging_ / (std::to_string(staged_.size()) + ".WMA");
      bool stopped = false;
      if (!TakeSong(song, state, current, staged, queue, stopped)) {
        if (stopped) return false;
        continue;
      }
      const std::string name = SongFileName(unsigned(i + 1), int(made.size()));
      staged_.emplace_back(staged, name);
      staged_keys_.push_back(state.key);
      manifest_[state.key] = ManifestEntry{state.size, state.time, name, song.name, song.ms};
      made.push_back(song);
    }
    soundtracks[i].songs = std::move(made);
  }
  return true;
}

bool MusicRun::TakeSong(Song& song, const SongState& state, std::size_t index,
                        const fs::path& staged, SongConversionQueue& queue, bool& stopped) {
  const bool queued = state.keep == nullptr;
  std::string ignored;
  if (state.keep != nullptr) {
    song.name = state.keep->name.value_or(song.name);
    song.ms = state.keep->ms;
    const fs::path old_file = soundtracks_ / PathFromUtf8(state.keep->file);
    if (MoveReplacing(old_file, staged, ignored)) {
      moved_.emplace_back(staged, old_file);
      ++kept_;
      return true;
    }
    // Not movable after all: converted again, here and now.
  }
  const SongConversion result =
      queued ? queue.Take(index)
             : ConvertSong(platform_, converters_, SongJob{song.path, ConvertedFile(index)});
  ApplyProbe(result.probe, song);
  if (builder_.cancel) {
    stopped = true;
    return false;
  }
  if (result.converted && MoveReplacing(ConvertedFile(index), staged, ignored)) {
    ++converted_;
    return true;
  }
  builder_.Log("music: " + state.key + " could not be converted" +
               (result.last_line.empty() ? "" : ": " + result.last_line));
  ++failed_;
  return false;
}

void MusicRun::PutInPlace(std::vector<Soundtrack>& soundtracks) {
  std::erase_if(soundtracks, [](const Soundtrack& soundtrack) { return soundtrack.songs.empty(); });
  std::size_t entry = 0;
  for (std::size_t j = 0; j < soundtracks.size(); ++j) {
    for (std::size_t s = 0; s < soundtracks[j].songs.size(); ++s, ++entry) {
      const std::string name = SongFileName(unsigned(j + 1), int(s));
      staged_[entry].second = name;
      manifest_[staged_keys_[entry]].file = name;
    }
  }

  // From here on the song files change names. The old manifest would tell the next import to
  // keep files that may by then hold other songs, should this one be ended before it writes
  // its own; an empty one only makes the next import convert everything again. It is emptied
  // in place, which needs no room on a full disk, and a file cut short reads as empty too.
  WriteWholeFile(soundtracks_ / kManifestName, MusicManifestText(MusicManifest()));
  RemoveSoundtrackFolders(soundtracks_, staging_);
  std::string ignored;
  std::error_code ec;
  for (const auto& [staged, name] : staged_) {
    const fs::path target = soundtracks_ / PathFromUtf8(name);
    fs::create_directories(target.parent_path(), ec);
    MoveReplacing(staged, target, ignored);
  }
  RemoveTree(staging_, ignored);
  ReplaceWholeFile(soundtracks_ / kDbName, BuildSoundtrackDb(soundtracks));
  ReplaceWholeFile(soundtracks_ / kManifestName, MusicManifestText(manifest_), FileMode::kText);
}

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
  error = kCancelled;
  return false;
}

bool Builder::FindConverters(std::string& ffprobe, std::string& ffmpeg, std::string& error) {
  ffprobe = "ffprobe";
  ffmpeg = "ffmpeg";
  const std::string suffix = platform->ExeSuffix();
  // Without a suffix the system's own converters are found through the search path.
  if (suffix.empty()) return true;
  if (!LoadToolchain(toolchain, error, false)) return false;
  const auto tool = std::find_if(toolchain.tools.begin(), toolchain.tools.end(),
                                 [](const Tool& t) { return t.id == "ffmpeg"; });
  if (tool == toolchain.tools.end()) {
    error = "toolchain.json lists no ffmpeg, which converts the music";
    return false;
  }
  if (!InstallTool(*tool, error)) return false;
  const fs::path bin = ToolFolder("ffmpeg") / "bin";
  ffprobe = PathToUtf8(bin / PathFromUtf8("ffprobe" + suffix));
  ffmpeg = PathToUtf8(bin / PathFromUtf8("ffmpeg" + suffix));
  return true;
}

bool Builder::ImportMusic(const fs::path& folder, std::string& summary, std::string& error) {
  cancel = false;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    error = "The music folder is not there: " + PathToUtf8(folder);
    return false;
  }
  // The import empties the soundtrack folder and fills it from the music folder, so the two
  // must not overlap: that would delete the player's songs (or the game's files) as it goes.
  const fs::path soundtracks = SoundtrackFolder();
  if (PathIsWithin(folder, soundtracks)) {
    error = "Choose a folder of your own music: " + PathToUtf8(folder) +
            " is part of the game's soundtrack folder.";
    return false;
  }
  if (PathIsWithin(soundtracks, folder)) {
    error = "Choose a folder of your own music: " + PathToUtf8(folder) +
            " holds the game's soundtrack folder.";
    return false;
  }
  Converters converters{"", "", folder, &cancel};
  if (!FindConverters(converters.ffprobe, converters.ffmpeg, error)) return false;

  const fs::path manifest_file = soundtracks / kManifestName;
  std::error_code db_ec;
  std::error_code manifest_ec;
  if (fs::exists(soundtracks / kDbName, db_ec) && !fs::exists(manifest_file, manifest_ec)) {
    error = "The game's music folder holds soundtracks not made here (copied from an Xbox?): " +
            PathToUtf8(soundtracks) + ". Move them away to use a folder of your own music.";
    return false;
  }

  std::vector<std::string> warnings;
  std::vector<Soundtrack> list = ScanMusicFolder(folder, warnings);
  for (const std::string& warning : warnings) Log("music: " + warning);
  if (SongCount(list) == 0) {
    error = "No music found in " + PathToUtf8(folder) +
            " (MP3, FLAC, OGG, Opus, M4A, AAC, WAV, WMA or AIFF files)";
    return false;
  }

  std::string old_text;
  const MusicManifest old_manifest =
      ReadWholeFile(manifest_file, old_text) ? ParseMusicManifest(old_text) : MusicManifest();
  MusicRun run(*this, *platform, converters, soundtracks);
  std::string ignored;
  RemoveTree(run.staging(), ignored);
  fs::create_directories(run.staging(), ec);
  if (!run.TakeSongs(list, old_manifest)) return RollBackMusic(run.moved(), run.staging(), error);
  run.PutInPlace(list);
  SetSetting("music", PathToUtf8(folder));

  summary = std::to_string(run.staged_count()) + " songs in " + std::to_string(list.size()) +
            " soundtracks";
  if (run.failed() > 0) {
    summary += " (" + std::to_string(run.failed()) + " could not be converted: see launcher.log)";
  }
  Log("music: " + summary + ", " + std::to_string(run.converted()) + " converted, " +
      std::to_string(run.kept()) + " kept from last time, from " + PathToUtf8(folder));
  Progress("Ready", "", 1.0);
  return true;
}

}  // namespace launcher
