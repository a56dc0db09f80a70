// The music import where programs carry a suffix (Windows): the converters are the toolchain's
// "ffmpeg" tool, installed from a server of the test's own. A stand-in plays ffprobe and ffmpeg
// and takes only the command lines the import is meant to give. On other systems the Platform
// claims the ".exe" suffix, so that the same road is taken.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "builder/builder_fixture.h"
#include "catalogue/builtin_texts.h"
#include "music/db_reader.h"
#include "music/soundtrack_db.h"
#include "platform/sha.h"
#include "support/file_tree.h"
#include "support/http_server.h"
#include "support/links.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class SuffixPlatform : public TestPlatform {
 public:
  std::string ExeSuffix() override { return ".exe"; }
};

class MusicToolchain : public BuilderTest {
 protected:
  void SetUp() override {
    game.toolchain = server.Url("/toolchain.json");
    builder = std::make_unique<Builder>(game, root, http.get(), &suffix_platform);
    builder->log_callback = [this](const std::string& line) { log.push_back(line); };
  }

  // Serves the stand-in converter as the "ffmpeg" tool: a zip with bin/ffmpeg.exe and
  // bin/ffprobe.exe.
  void ServeFfmpegTool() {
    const std::string program = ReadFile(TestProgram("fake_ffmpeg"));
    ASSERT_FALSE(program.empty());
    WriteZip(scratch / "ffmpeg.zip", {{"bin/ffmpeg.exe", program, false, true, 0755},
                                      {"bin/ffprobe.exe", program, false, true, 0755}});
    const std::string zip = ReadFile(scratch / "ffmpeg.zip");
    server.Serve("/ffmpeg.zip", zip);
    server.Serve("/toolchain.json", R"({"tools": [{"id": "ffmpeg", "title": "FFmpeg", "url": ")" +
                                        server.Url("/ffmpeg.zip") + R"(", "sha256": ")" +
                                        Sha256File(scratch / "ffmpeg.zip") + R"(", "size": )" +
                                        std::to_string(zip.size()) + "}]}");
  }

  bool Import(std::string& summary) {
    error.clear();
    log.clear();
    return builder->ImportMusic(music, summary, error);
  }

  SuffixPlatform suffix_platform;
  HttpServer server;
  fs::path music = scratch / "Music";
  std::string error;
};

TEST_F(MusicToolchain, ConvertsWithTheInstalledTool) {
  ServeFfmpegTool();
  WriteFile(music / "Live" / "a.mp3", "duration=61.25\nTAG:TITLE=Opening\nTAG:Artist=The Band\n");
  WriteFile(music / "Live" / "b.flac", "duration=2.0009\n");
  WriteFile(music / "Live" / "c.ogg", "fail Invalid data found when processing input\n");
  WriteFile(music / "Broken" / "d.wav", "fail moov atom not found\n");

  std::string summary;
  ASSERT_TRUE(Import(summary)) << error;
  EXPECT_EQ(summary, "2 songs in 1 soundtracks (2 could not be converted: see launcher.log)");
  EXPECT_TRUE(fs::exists(root / "tools" / "ffmpeg" / "bin" / "ffprobe.exe"));
  EXPECT_TRUE(Logged("music: " + PathToUtf8(music / "Broken" / "d.wav") +
                     " could not be converted: moov atom not found"));
  EXPECT_TRUE(Logged("music: " + PathToUtf8(music / "Live" / "c.ogg") +
                     " could not be converted: Invalid data found when processing input"));

  // "Broken" lost its only song, so "Live" is soundtrack 1.
  const fs::path soundtracks = builder->SoundtrackFolder();
  const std::map<std::string, std::string> files = FilesUnder(soundtracks);
  EXPECT_EQ(WithoutCr(files.at("0001/00010000.WMA")),
            "WMA of duration=61.25\nTAG:TITLE=Opening\nTAG:Artist=The Band\n");
  EXPECT_EQ(WithoutCr(files.at("0001/00010001.WMA")), "WMA of duration=2.0009\n");
  EXPECT_EQ(files.size(), 4u);  // two songs, ST.DB and the manifest

  const std::string db = files.at("ST.DB");
  const DbReader read(db);
  EXPECT_EQ(read.U32(4), 1u);
  EXPECT_EQ(read.U32(512 + 8), 2u);
  EXPECT_EQ(read.U32(512 + 348), 61250u + 2000u);
  EXPECT_EQ(read.U32(kDbBlocksOffset + 40), 61250u);
  EXPECT_EQ(read.U32(kDbBlocksOffset + 44), 2000u);

  // Installed once: the second import neither downloads nor converts.
  ASSERT_EQ(server.Count("/ffmpeg.zip"), 1);
  ASSERT_TRUE(Import(summary)) << error;
  EXPECT_EQ(server.Count("/ffmpeg.zip"), 1);
  EXPECT_EQ(FilesUnder(soundtracks), files);
  EXPECT_TRUE(
      Logged("music: 2 songs in 1 soundtracks (2 could not be converted: see launcher.log), "
             "0 converted, 2 kept from last time, from " +
             PathToUtf8(music)));
}

TEST_F(MusicToolchain, TheBuiltInToolchainListsNoFfmpeg) {
  server.Status("/toolchain.json", 404);
  builder->builtin_toolchain = std::string(BuiltInToolchainJson());
  fs::create_directories(music);  // no music at all: the tool is looked for before the scan
  std::string summary;
  EXPECT_FALSE(Import(summary));
  EXPECT_EQ(error, "toolchain.json lists no ffmpeg, which converts the music");
  EXPECT_FALSE(fs::exists(builder->SoundtrackFolder()));
}

TEST_F(MusicToolchain, ToolchainErrorsStandAsTheyAre) {
  server.Status("/toolchain.json", 404);
  WriteFile(music / "a.mp3", "duration=1\n");
  std::string summary;
  EXPECT_FALSE(Import(summary));
  EXPECT_TRUE(error.starts_with("Could not download the list of build tools: ")) << error;

  server.Serve("/toolchain.json", R"({"tools": [{"id": "ffmpeg", "url": ")" +
                                      server.Url("/missing.zip") + R"(", "sha256": ")" +
                                      std::string(64, 'a') + R"("}]})");
  server.Status("/missing.zip", 404);
  EXPECT_FALSE(Import(summary));
  EXPECT_TRUE(error.starts_with("Could not download missing.zip: ")) << error;
  EXPECT_FALSE(fs::exists(builder->SoundtrackFolder()));
}

// A manifest of an earlier launcher holds times cut to whole seconds: a song whose stored time
// is its own time cut so is kept, one whose stored second is another is converted again.
TEST_F(MusicToolchain, AStoredTimeOfWholeSecondsKeepsASongOfThatSecond) {
  ServeFfmpegTool();
  const fs::path kept = music / "a.mp3";
  const fs::path changed = music / "b.mp3";
  WriteFile(kept, "duration=1\n");
  WriteFile(changed, "duration=2\n");
  for (const fs::path& song : {kept, changed}) {
    fs::last_write_time(song, fs::last_write_time(song) + std::chrono::milliseconds(500));
  }
  std::string summary;
  ASSERT_TRUE(Import(summary)) << error;

  const fs::path manifest = builder->SoundtrackFolder() / "launcher-music.json";
  nlohmann::json members = nlohmann::json::parse(ReadFile(manifest));
  constexpr int64_t kSecond = 10000000;
  for (const auto& [song, seconds_off] : {std::pair{kept, 0}, std::pair{changed, -1}}) {
    nlohmann::json& member = members[PathToUtf8(song)];
    const int64_t time = member["time"].get<int64_t>();
    member["time"] = time - time % kSecond + seconds_off * kSecond;
  }
  WriteFile(manifest, members.dump());
  ASSERT_TRUE(Import(summary)) << error;
  EXPECT_TRUE(Logged("music: 2 songs in 1 soundtracks, 1 converted, 1 kept from last time, from " +
                     PathToUtf8(music)));
}

// The import empties the soundtrack folder, so a music folder that shares anything with it is
// refused before the converters are fetched or a file is touched, however its path is spelt.
TEST_F(MusicToolchain, AMusicFolderThatOverlapsTheSoundtracksIsRefusedUntouched) {
  ServeFfmpegTool();
  const fs::path soundtracks = builder->SoundtrackFolder();
  WriteFile(soundtracks / "0000" / "00000000.WMA", "a song made earlier");
  WriteFile(soundtracks / "launcher-music.json", "{}");
  WriteFile(soundtracks / "Mine" / "a.mp3", "duration=1\n");
  WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
  const auto inside = [](const fs::path& folder) {
    return "Choose a folder of your own music: " + PathToUtf8(folder) +
           " is part of the game's soundtrack folder.";
  };
  const auto holds = [](const fs::path& folder) {
    return "Choose a folder of your own music: " + PathToUtf8(folder) +
           " holds the game's soundtrack folder.";
  };
  struct Case {
    std::string what;
    fs::path folder;
    std::string error;
  };
  std::vector<Case> cases = {
      {"a folder in it", soundtracks / "Mine", inside(soundtracks / "Mine")},
      {"the folder itself", soundtracks, inside(soundtracks)},
      {"spelt with dots", soundtracks / "Mine" / ".." / "0000",
       inside(soundtracks / "Mine" / ".." / "0000")},
      {"the player's drive", root / "play" / "hdd", holds(root / "play" / "hdd")},
      {"the launcher's folder", root, holds(root)},
  };
  // Where names ignore letter case, the same folder spelt in capitals is refused as well.
  const fs::path capitals = root / "PLAY" / "HDD" / "E" / "TDATA" / "FFFE0000" / "music" / "MINE";
  if (fs::is_directory(capitals)) cases.push_back({"in capitals", capitals, inside(capitals)});
  const fs::path link = scratch / "linked";
  std::string why;
  if (MakeLink(link, soundtracks / "Mine", true, why)) {
    cases.push_back({"through a link", link, inside(link)});
  }
  const std::map<std::string, std::string> before = FilesUnder(root);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    music = c.folder;
    std::string summary;
    EXPECT_FALSE(Import(summary));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(FilesUnder(root), before);
    EXPECT_EQ(server.TotalCount(), 0);
  }
}

class MusicSettings : public BuilderTest {
 protected:
  void SetUp() override { MakeBuilder(); }
};

TEST_F(MusicSettings, SavedMusicFolderIsTheRecordedText) {
  EXPECT_EQ(builder->SavedMusicFolder(), fs::path());  // no launcher.json
  const struct {
    const char* settings;
    fs::path folder;
  } cases[] = {
      {R"({"music": "/home/me/M\u00fcsic"})", PathFromUtf8("/home/me/M\xC3\xBCsic")},
      {R"({"music": 3})", fs::path()},
      {R"({"game": "x"})", fs::path()},
      {R"(["music"])", fs::path()},
      {"not json", fs::path()},
  };
  for (const auto& c : cases) {
    WriteFile(root / "launcher.json", c.settings);
    EXPECT_EQ(builder->SavedMusicFolder(), c.folder) << c.settings;
  }
}

}  // namespace
}  // namespace launcher::test
