// What the package tests share: a server of the test's own plays the hosting service (latest
// release, the package zip and its description), the game copy is a disc image the test makes,
// and the package's game is the fake game program, which prepares its "code" by a script.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/builder_fixture.h"
#include "catalogue/game_copy.h"
#include "catalogue/release.h"
#include "platform/file_ops.h"
#include "platform/progress.h"
#include "platform/sha.h"
#include "support/disc_image_writer.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher::test {
namespace fs = std::filesystem;

inline const std::string kPackage = "Halvorn-windows.zip";
inline const std::string kZipPath = "/owner/halvorn/releases/download/v1.0/Halvorn-windows.zip";

// Bytes that do not compress, so that the package is downloaded in many pieces.
inline std::string NoiseBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

class BuilderPackageTest : public BuilderTest {
 protected:
  void SetUp() override {
    Hosting().site = server.Url("/");
    Hosting().api = server.Url("/api");

    xbe = "XBEH" + std::string(300, 'x');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    xbe_sha1 = sha1.FinalHex();

    game.repo = server.Url("/owner/halvorn.git");
    game.package = kPackage;
    game.releases = {{xbe_sha1, "Europe"}};

    image = scratch / "games" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    disc.AddFile("media\\a.wav", "wav");
    fs::create_directories(image.parent_path());
    ASSERT_TRUE(disc.WriteGamePartition(image));

    game_bytes = ReadFile(TestProgram("fake_game"));
    ASSERT_FALSE(game_bytes.empty()) << TestProgram("fake_game");
    noise = NoiseBytes(700 * 1024);
    MakePackage(scratch / "published" / kPackage);
    Publish(scratch / "published" / kPackage);

    // What belongs to the player in the play folder.
    WriteFile(Play() / "logs" / "old.log", "the player's log");
    WriteFile(Play() / "settings.toml", "the player's settings");
    WriteFile(Play() / "hdd" / "E" / "save.dat", "the player's save");

    MakeBuilder();
  }

  void TearDown() override { Hosting() = HostingService(); }

  void MakePackage(const fs::path& zip) {
    fs::create_directories(zip.parent_path());
    WriteZip(zip, {
                      {Exe(), game_bytes, false, true, 0755},
                      {"bin/data.bin", noise, false, false},
                      {"./readme.txt", "read me"},
                      {"data/level.toml", "kept: not at the top"},
                      {"config.toml", "the package's settings"},
                      {"logs/package.log", "the package's log"},
                      {"hdd/E/save.dat", "the package's save"},
                      {"assets/default.xbe", "the package's disc"},
                      {"compiler/work/o.obj", "work"},
                  });
  }

  // Serves the zip and its description; an empty `description` makes the usual one.
  void Publish(const fs::path& zip, std::string description = "",
               const std::string& path = kZipPath) {
    published_sha256 = Sha256File(zip);
    if (description.empty()) {
      description = nlohmann::json{{"sha256", published_sha256}, {"size", fs::file_size(zip)}}.dump();
    }
    server.ServeFile(path, zip);
    server.Serve(path + ".json", description);
  }

  // Publishes a package of the game's executable and `extra` entries in place of the usual one.
  void PublishGameWith(std::vector<ZipEntry> extra) {
    const fs::path zip = scratch / "other" / kPackage;
    fs::create_directories(zip.parent_path());
    extra.insert(extra.begin(), {Exe(), game_bytes, false, true, 0755});
    WriteZip(zip, extra);
    Publish(zip);
  }

  // The fake game's script for its next runs.
  void Script(const std::string& text) { WriteFile(root / "fake_game.txt", text); }

  bool ChooseTheDisc() {
    const GameCopy copy = IdentifyGameCopy(game, image);
    EXPECT_TRUE(copy.ok) << copy.message;
    std::string error;
    EXPECT_TRUE(builder->ChooseGame(copy, error)) << error;
    return copy.ok;
  }

  bool Build() {
    err.clear();
    log.clear();
    statuses.clear();
    steps.clear();
    return builder->BuildAll(err);
  }

  fs::path Play() const { return root / "play"; }
  fs::path Next() const { return Play() / ".next"; }

  std::string Setting(const char* key) const {
    const auto settings = nlohmann::json::parse(ReadFile(root / "launcher.json"), nullptr, false);
    if (!settings.is_object() || !settings.contains(key)) return "";
    return settings[key].is_string() ? settings[key].get<std::string>() : "?";
  }

  // The log line of the named stage ("" when it did not run).
  std::string StageLine(const std::string& stage) const {
    for (const std::string& line : log) {
      if (line.rfind("stage " + stage + ": ", 0) == 0) return line;
    }
    return "";
  }

  int StageLines(const std::string& stage) const {
    int count = 0;
    for (const std::string& line : log) count += line.rfind("stage " + stage + ": ", 0) == 0;
    return count;
  }

  // Stops the run at the first status report that `when` accepts.
  void StopWhen(std::function<bool(const Status&)> when) {
    on_status = [this, when](const Status& status) {
      if (when(status)) builder->cancel = true;
    };
  }

  void ExpectFailedWith(const std::string& expected) {
    EXPECT_EQ(err, expected);
    EXPECT_EQ(builder->package_step, 0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "build stopped: " + expected);
    EXPECT_EQ(Setting("built"), "");
    bool timing = false;
    for (const std::string& line : log) timing = timing || line.rfind("timing: ", 0) == 0;
    EXPECT_TRUE(timing);
  }

  void ExpectStopped() {
    EXPECT_EQ(err, kCancelled);
    EXPECT_EQ(builder->package_step, 0);
    ASSERT_FALSE(log.empty());
    for (const std::string& line : log) EXPECT_NE(line.rfind("build stopped", 0), 0u) << line;
    EXPECT_EQ(log.back().rfind("timing: ", 0), 0u) << log.back();
    EXPECT_EQ(Setting("built"), "");
  }

  HttpServer server;
  std::string xbe;
  std::string xbe_sha1;
  fs::path image;
  std::string game_bytes;
  std::string noise;
  std::string published_sha256;
  std::string err;
};

}  // namespace launcher::test
