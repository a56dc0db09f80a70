// The music import with the system's own ffprobe and ffmpeg, found through the search path, on
// music made by ffmpeg for each test: tones in WAV, OGG, MP3 and FLAC, with and without title
// and artist tags, in nested folders beside files that are not music.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "builder/builder_fixture.h"
#include "platform/file_ops.h"
#include "music/db_reader.h"
#include "music/soundtrack_db.h"
#include "platform/progress.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

uint32_t U32At(const std::string& db, std::size_t offset) { return DbReader(db).U32(offset); }
std::string NameAt(const std::string& db, std::size_t offset) {
  return DbReader(db).AsciiName(offset);
}

class MusicImport : public BuilderTest {
 protected:
  // The tones are made once per test program.
  static void SetUpTestSuite() {
    tones_ = std::make_unique<ScratchDir>();
    const std::unique_ptr<Platform> platform = CreatePlatform();
    const auto make = [&](const std::string& name, std::vector<std::string> tags) {
      std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y",
                                       "-v",     "error",    "-f",
                                       "lavfi",  "-i",       "sine=frequency=440:duration=1"};
      args.insert(args.end(), tags.begin(), tags.end());
      args.push_back(PathToUtf8(*tones_ / name));
      std::string output;
      const int code = platform->Run(
          args, {}, {}, [&](const std::string& l) { output += l; }, nullptr);
      ASSERT_EQ(code, 0) << "ffmpeg could not make " << name << ": " << output;
    };
    make("plain.wav", {});
    make("plain.ogg", {});
    make("tagged.mp3", {"-metadata", "title=B title", "-metadata", "artist=Artist"});
    make("titled.flac", {"-metadata", "title=Only Title"});
  }
  static void TearDownTestSuite() { tones_.reset(); }

  void SetUp() override { MakeBuilder(); }

  void Put(const std::string& tone, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(*tones_ / tone, to, fs::copy_options::overwrite_existing);
  }

  // Mixtape/intro.wav, and Rock/a.ogg, Rock/b.mp3, Rock/deep/c.flac with a cover and a folder
  // without music beside them.
  void MakeMixtape() {
    Put("plain.wav", music / "intro.wav");
    Put("plain.ogg", music / "Rock" / "a.ogg");
    Put("tagged.mp3", music / "Rock" / "b.mp3");
    Put("titled.flac", music / "Rock" / "deep" / "c.flac");
    WriteFile(music / "Rock" / "cover.jpg", "not music");
    WriteFile(music / "Empty" / "notes.txt", "not music");
  }

  bool Import() {
    error.clear();
    summary.clear();
    {
      std::lock_guard<std::mutex> lock(mutex);
      log.clear();
      statuses.clear();
    }
    return builder->ImportMusic(music, summary, error);
  }

  // Moves a file's last-write time, as an editor saving it would.
  void Touch(const fs::path& file) {
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
  }

  std::map<std::string, std::string> Soundtracks() {
    return FilesUnder(builder->SoundtrackFolder());
  }

  static inline std::unique_ptr<ScratchDir> tones_;
  fs::path music = scratch / "Mixtape";
  std::string summary;
  std::string error;
};

TEST_F(MusicImport, FirstImportConvertsEverySong) {
  MakeMixtape();
  ASSERT_TRUE(Import()) << error;
  EXPECT_EQ(summary, "4 songs in 2 soundtracks");
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 4 converted, 0 kept from last time, from " +
                     PathToUtf8(music)));
  EXPECT_EQ(builder->SavedMusicFolder(), music);

  const fs::path folder = builder->SoundtrackFolder();
  EXPECT_EQ(folder, root / "play" / "hdd" / "E" / "TDATA" / "FFFE0000" / "MUSIC");
  const std::map<std::string, std::string> files = Soundtracks();
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"0001/00010000.WMA", "0002/00020000.WMA", "0002/00020001.WMA",
                                      "0002/00020002.WMA", "ST.DB", "launcher-music.json"}));

  // Each song is stereo WMA 2 at 44100 Hz.
  std::string stream;
  const int code = platform.Run(
      {"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate", "-of",
       "default=noprint_wrappers=1", PathToUtf8(folder / "0002/00020001.WMA")},
      {}, {}, [&](const std::string& line) { stream += line + ";"; }, nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(stream, "codec_name=wmav2;sample_rate=44100;channels=2;");

  // ST.DB: names from the tags (artist - title, the title alone, else the stem), lengths probed.
  const std::string& db = files.at("ST.DB");
  ASSERT_EQ(db.size(), 51712u + 2 * 512);
  EXPECT_EQ(U32At(db, 4), 2u);
  EXPECT_EQ(NameAt(db, 512 + 352), "Mixtape");
  EXPECT_EQ(NameAt(db, 1024 + 352), "Rock");
  EXPECT_EQ(U32At(db, 1024 + 8), 3u);
  const std::size_t rock = kDbBlocksOffset + 512;
  EXPECT_EQ(NameAt(db, kDbBlocksOffset + 64), "intro");
  EXPECT_EQ(NameAt(db, rock + 64), "a");
  EXPECT_EQ(NameAt(db, rock + 128), "Artist - B title");
  EXPECT_EQ(NameAt(db, rock + 192), "Only Title");
  for (const std::size_t slot : {kDbBlocksOffset + 40, rock + 40, rock + 44, rock + 48}) {
    EXPECT_GE(U32At(db, slot), 990u);
    EXPECT_LE(U32At(db, slot), 1100u);
  }

  // The manifest: one member per song under its source path, indented by one space.
  const std::string& text = files.at("launcher-music.json");
  EXPECT_TRUE(text.starts_with("{\n \"")) << text;
  const nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
  ASSERT_TRUE(manifest.is_object());
  ASSERT_EQ(manifest.size(), 4u);
  const fs::path b = music / "Rock" / "b.mp3";
  const nlohmann::json& member = manifest.at(PathToUtf8(b));
  int64_t ticks = 0;
  ASSERT_TRUE(LastWriteTicks(b, ticks));
  EXPECT_EQ(member.at("file"), "0002/00020001.WMA");
  EXPECT_EQ(member.at("name"), "Artist - B title");
  EXPECT_EQ(member.at("size").get<uint64_t>(), fs::file_size(b));
  EXPECT_EQ(member.at("time").get<int64_t>(), ticks);
  EXPECT_EQ(member.at("ms").get<uint32_t>(), U32At(db, rock + 44));
  EXPECT_EQ(manifest.at(PathToUtf8(music / "intro.wav")).at("file"), "0001/00010000.WMA");

  // Progress: each song in order, then Ready.
  std::vector<std::string> progress;
  for (const Status& status : statuses) {
    progress.push_back(status.title + "|" + status.detail + "|" + std::to_string(status.fraction));
  }
  EXPECT_EQ(progress, (std::vector<std::string>{
                          "Converting your music|1 of 4: intro.wav|0.000000",
                          "Converting your music|2 of 4: a.ogg|0.250000",
                          "Converting your music|3 of 4: b.mp3|0.500000",
                          "Converting your music|4 of 4: c.flac|0.750000",
                          "Ready||1.000000",
                      }));
  EXPECT_FALSE(fs::exists(folder / ".staging"));
}

TEST_F(MusicImport, UnchangedSongsAreKeptAndTouchedOnesConvertedAgain) {
  MakeMixtape();
  ASSERT_TRUE(Import()) << error;
  const std::map<std::string, std::string> first = Soundtracks();

  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 0 converted, 4 kept from last time, from " +
                     PathToUtf8(music)));
  EXPECT_EQ(Soundtracks(), first);

  Touch(music / "Rock" / "b.mp3");
  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 1 converted, 3 kept from last time, from " +
                     PathToUtf8(music)));
  const nlohmann::json manifest = nlohmann::json::parse(Soundtracks().at("launcher-music.json"));
  int64_t ticks = 0;
  ASSERT_TRUE(LastWriteTicks(music / "Rock" / "b.mp3", ticks));
  EXPECT_EQ(manifest.at(PathToUtf8(music / "Rock" / "b.mp3")).at("time").get<int64_t>(), ticks);

  // A converted file that went missing is made again.
  fs::remove(builder->SoundtrackFolder() / "0002" / "00020002.WMA");
  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 1 converted, 3 kept from last time, from " +
                     PathToUtf8(music)));
  EXPECT_TRUE(fs::exists(builder->SoundtrackFolder() / "0002" / "00020002.WMA"));
}

TEST_F(MusicImport, DroppedSongMovesTheOthersDown) {
  MakeMixtape();
  ASSERT_TRUE(Import()) << error;
  const std::map<std::string, std::string> first = Soundtracks();

  fs::remove(music / "Rock" / "a.ogg");
  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 3 songs in 2 soundtracks, 0 converted, 3 kept from last time, from " +
                     PathToUtf8(music)));
  const std::map<std::string, std::string> second = Soundtracks();
  EXPECT_EQ(second.at("0001/00010000.WMA"), first.at("0001/00010000.WMA"));
  EXPECT_EQ(second.at("0002/00020000.WMA"), first.at("0002/00020001.WMA"));
  EXPECT_EQ(second.at("0002/00020001.WMA"), first.at("0002/00020002.WMA"));
  EXPECT_EQ(second.count("0002/00020002.WMA"), 0u);
  const nlohmann::json manifest = nlohmann::json::parse(second.at("launcher-music.json"));
  EXPECT_EQ(manifest.size(), 3u);
  EXPECT_EQ(manifest.at(PathToUtf8(music / "Rock" / "deep" / "c.flac")).at("file"),
            "0002/00020001.WMA");
  EXPECT_EQ(U32At(second.at("ST.DB"), 1024 + 8), 2u);

  // The whole soundtrack gone: the next one takes its id, its files their new names.
  fs::remove(music / "intro.wav");
  ASSERT_TRUE(Import()) << error;
  const std::map<std::string, std::string> third = Soundtracks();
  EXPECT_EQ(third.at("0001/00010000.WMA"), first.at("0002/00020001.WMA"));
  EXPECT_EQ(third.count("0002/00020000.WMA"), 0u);
  EXPECT_EQ(NameAt(third.at("ST.DB"), 512 + 352), "Rock");
}

TEST_F(MusicImport, StopDuringTheThirdSongPutsEverythingBack) {
  MakeMixtape();
  ASSERT_TRUE(Import()) << error;
  const std::map<std::string, std::string> before = Soundtracks();
  const std::string settings = ReadFile(root / "launcher.json");

  // intro.wav and a.ogg are kept (moved into the staging folder); b.mp3 must be converted.
  Touch(music / "Rock" / "b.mp3");
  on_status = [this](const Status& status) {
    if (status.detail.starts_with("3 of ")) builder->cancel = true;
  };
  EXPECT_FALSE(Import());
  EXPECT_EQ(error, kCancelled);
  EXPECT_EQ(Soundtracks(), before);
  EXPECT_FALSE(fs::exists(builder->SoundtrackFolder() / ".staging"));
  EXPECT_EQ(ReadFile(root / "launcher.json"), settings);

  on_status = nullptr;
  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 1 converted, 3 kept from last time, from " +
                     PathToUtf8(music)));
}

TEST_F(MusicImport, SongsFfmpegCannotReadAreLeftOut) {
  MakeMixtape();
  WriteFile(music / "Rock" / "broken.mp3", "this is no MP3");
  WriteFile(music / "Bad" / "x.wav", "nor is this a WAV");
  ASSERT_TRUE(Import()) << error;
  EXPECT_EQ(summary, "4 songs in 2 soundtracks (2 could not be converted: see launcher.log)");
  const std::string prefix =
      "music: " + PathToUtf8(music / "Rock" / "broken.mp3") + " could not be converted: ";
  bool logged = false;
  for (const std::string& line : log) {
    if (line.starts_with(prefix) && line.size() > prefix.size()) logged = true;
  }
  EXPECT_TRUE(logged) << "no line begins with " << prefix;

  // "Bad" lost its only song and "Rock" keeps id 2; broken.mp3 takes no slot.
  const std::map<std::string, std::string> files = Soundtracks();
  EXPECT_EQ(files.count("0003/00030000.WMA"), 0u);
  EXPECT_EQ(files.count("0002/00020003.WMA"), 0u);
  EXPECT_EQ(NameAt(files.at("ST.DB"), 1024 + 352), "Rock");
  const nlohmann::json manifest = nlohmann::json::parse(files.at("launcher-music.json"));
  EXPECT_EQ(manifest.count(PathToUtf8(music / "Rock" / "broken.mp3")), 0u);
}

TEST_F(MusicImport, EverySongFailingStillSucceedsWithAnEmptyDatabase) {
  WriteFile(music / "x.mp3", "garbage");
  ASSERT_TRUE(Import()) << error;
  EXPECT_EQ(summary, "0 songs in 0 soundtracks (1 could not be converted: see launcher.log)");
  const std::map<std::string, std::string> files = Soundtracks();
  EXPECT_EQ(files.at("ST.DB"), BuildSoundtrackDb({}));
  EXPECT_EQ(files.at("launcher-music.json"), "{}");
}

TEST_F(MusicImport, Refusals) {
  WriteFile(scratch / "file.mp3", "x");
  WriteFile(scratch / "Pictures" / "cover.jpg", "x");
  const fs::path soundtracks = builder->SoundtrackFolder();
  const struct {
    const char* what;
    fs::path folder;
    std::string error;
  } cases[] = {
      {"a file", scratch / "file.mp3",
       "The music folder is not there: " + PathToUtf8(scratch / "file.mp3")},
      {"nothing", scratch / "gone",
       "The music folder is not there: " + PathToUtf8(scratch / "gone")},
      {"no music", scratch / "Pictures",
       "No music found in " + PathToUtf8(scratch / "Pictures") +
           " (MP3, FLAC, OGG, Opus, M4A, AAC, WAV, WMA or AIFF files)"},
  };
  for (const auto& c : cases) {
    music = c.folder;
    EXPECT_FALSE(Import()) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_FALSE(fs::exists(soundtracks / ".staging")) << c.what;
    EXPECT_FALSE(fs::exists(root / "launcher.json")) << c.what;
  }

  // Soundtracks copied from a console: ST.DB without the manifest. Refused before the scan.
  WriteFile(soundtracks / "ST.DB", "theirs");
  music = scratch / "Pictures";
  EXPECT_FALSE(Import());
  EXPECT_EQ(error,
            "The game's music folder holds soundtracks not made here (copied from an Xbox?): " +
                PathToUtf8(soundtracks) + ". Move them away to use a folder of your own music.");
  EXPECT_EQ(ReadFile(soundtracks / "ST.DB"), "theirs");
}

// A manifest can only name song files inside the soundtrack folder: one that names another file
// (here the settings) is not moved, and its song is converted again.
TEST_F(MusicImport, ManifestNamingAFileElsewhereIsNotFollowed) {
  MakeMixtape();
  ASSERT_TRUE(Import()) << error;
  const fs::path manifest_file = builder->SoundtrackFolder() / "launcher-music.json";
  nlohmann::json manifest = nlohmann::json::parse(ReadFile(manifest_file));
  manifest[PathToUtf8(music / "intro.wav")]["file"] = "../../../../../../launcher.json";
  WriteFile(manifest_file, manifest.dump(1));
  const std::string settings = ReadFile(root / "launcher.json");
  ASSERT_FALSE(settings.empty());

  ASSERT_TRUE(Import()) << error;
  EXPECT_TRUE(Logged("music: 4 songs in 2 soundtracks, 1 converted, 3 kept from last time, from " +
                     PathToUtf8(music)));
  EXPECT_EQ(ReadFile(root / "launcher.json"), settings);
}

// The converters run in the music folder; relative paths must still find the songs.
TEST_F(MusicImport, RelativeMusicFolder) {
  MakeMixtape();
  const fs::path before = fs::current_path();
  fs::current_path(scratch.path());
  music = "Mixtape";
  const bool ok = Import();
  fs::current_path(before);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(summary, "4 songs in 2 soundtracks");
  EXPECT_TRUE(
      Logged("music: 4 songs in 2 soundtracks, 4 converted, 0 kept from last time, from Mixtape"));
}

}  // namespace
}  // namespace launcher::test
