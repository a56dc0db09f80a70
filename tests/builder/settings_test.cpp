// launcher.json and the Builder's path queries.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <thread>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

class BuilderSettingsTest : public BuilderTest {
 protected:
  void SetUp() override {
    fs::create_directories(root);
    MakeBuilder();
  }
  fs::path SettingsFile() const { return root / "launcher.json"; }
  std::string SettingsText() const { return WithoutCr(ReadFile(SettingsFile())); }
  json Settings() const { return json::parse(SettingsText(), nullptr, false); }
};

TEST_F(BuilderSettingsTest, NoFileReadsDefaultsAndTheFirstWriteCreatesIt) {
  EXPECT_EQ(builder->BuiltVersion(), "");
  EXPECT_FALSE(builder->PlayAtStart());
  EXPECT_TRUE(builder->GamePath().empty());
  builder->SetSetting("built", "v1.0");
  EXPECT_EQ(SettingsText(), "{\n  \"built\": \"v1.0\"\n}");
  EXPECT_EQ(builder->BuiltVersion(), "v1.0");
}

TEST_F(BuilderSettingsTest, WrittenFileIsIndentedByTwoAndEndsWithTheBrace) {
  builder->SetSetting("game", "/games/disc.iso");
  builder->SetPlayAtStart(true);
  EXPECT_EQ(SettingsText(), "{\n  \"game\": \"/games/disc.iso\",\n  \"play_at_start\": true\n}");
  const std::string raw = ReadFile(SettingsFile());
  EXPECT_EQ(raw.back(), '}');
}

TEST_F(BuilderSettingsTest, WritingOneKeyKeepsEveryOther) {
  WriteFile(SettingsFile(),
            R"({"game": "/g", "game_sha1": "ab12", "built": "v0.9", "music": "/m",
                "window": {"x": 3}, "play_at_start": false})");
  builder->SetPlayAtStart(true);
  builder->SetSetting("built", "v1.0");
  const json settings = Settings();
  EXPECT_EQ(settings, json::parse(R"({"game": "/g", "game_sha1": "ab12", "built": "v1.0",
                                      "music": "/m", "window": {"x": 3}, "play_at_start": true})"));
  EXPECT_TRUE(builder->PlayAtStart());
}

TEST_F(BuilderSettingsTest, AWriteReplacesAValueOfAnyType) {
  WriteFile(SettingsFile(), R"({"built": 3, "play_at_start": "yes"})");
  builder->SetSetting("built", "v1.0");
  builder->SetPlayAtStart(false);
  EXPECT_EQ(Settings(), json::parse(R"({"built": "v1.0", "play_at_start": false})"));
}

TEST_F(BuilderSettingsTest, MalformedFilesReadAsDefaultsAndAreReplacedOnWrite) {
  for (const char* text : {"[1, 2, 3]", "{\"built\": \"v1.0\"", "42", "null", "", "\"text\""}) {
    SCOPED_TRACE(text);
    WriteFile(SettingsFile(), text);
    EXPECT_EQ(builder->BuiltVersion(), "");
    EXPECT_FALSE(builder->PlayAtStart());
    EXPECT_EQ(builder->FindPackage(), "");
    builder->SetSetting("built", "v1.0");
    EXPECT_EQ(Settings(), json::parse(R"({"built": "v1.0"})"));
  }
}

TEST_F(BuilderSettingsTest, AFileNestedDeeperThanAnyTheLauncherWritesIsUnreadable) {
  // Thousands of levels would make every write slow and overflow a small thread stack.
  const std::string deep = "{\"play_at_start\": true, \"built\": \"v0.9\", \"deep\": " +
                           std::string(50000, '[') + std::string(50000, ']') + "}";
  WriteFile(SettingsFile(), deep);
  EXPECT_FALSE(builder->PlayAtStart());
  EXPECT_EQ(builder->BuiltVersion(), "");
  builder->SetSetting("built", "v1.0");
  EXPECT_EQ(Settings(), json::parse(R"({"built": "v1.0"})"));
}

TEST_F(BuilderSettingsTest, TwoThreadsWritingDifferentKeysLoseNeither) {
  constexpr int kWrites = 200;
  auto writer = [this](const std::string& key) {
    for (int i = 0; i < kWrites; ++i) builder->SetSetting(key, std::to_string(i));
  };
  std::thread main_side(writer, "game");
  std::thread worker_side(writer, "built");
  // A third writer of its own key, through the other setter.
  for (int i = 0; i < kWrites; ++i) builder->SetPlayAtStart(i % 2 == 0);
  main_side.join();
  worker_side.join();
  const json settings = Settings();
  EXPECT_EQ(settings.value("game", ""), std::to_string(kWrites - 1));
  EXPECT_EQ(settings.value("built", ""), std::to_string(kWrites - 1));
  EXPECT_EQ(settings.value("play_at_start", true), false);
}

TEST_F(BuilderSettingsTest, WrongTypesReadAsDefaults) {
  WriteFile(SettingsFile(), R"({"built": 1.5, "play_at_start": "true", "game": 7})");
  EXPECT_EQ(builder->BuiltVersion(), "");
  EXPECT_FALSE(builder->PlayAtStart());
  EXPECT_TRUE(builder->GamePath().empty());
  WriteFile(SettingsFile(), R"({"play_at_start": 1})");
  EXPECT_FALSE(builder->PlayAtStart());
  WriteFile(SettingsFile(), R"({"play_at_start": true})");
  EXPECT_TRUE(builder->PlayAtStart());
}

TEST_F(BuilderSettingsTest, NonAsciiTextIsStoredAsUtf8) {
  const std::string path = "/spiele/H\xC3\xA4lvorn \xE6\xB8\xB8\xE6\x88\x8F.iso";
  builder->SetSetting("game", path);
  const std::string text = SettingsText();
  EXPECT_NE(text.find(path), std::string::npos) << text;
  EXPECT_EQ(text.find("\\u"), std::string::npos) << text;
  EXPECT_EQ(builder->GamePath(), PathFromUtf8(path));
}

TEST_F(BuilderSettingsTest, NothingIsWrittenWhenTheRootDoesNotExist) {
  fs::remove_all(root);
  builder->SetSetting("built", "v1.0");
  builder->SetPlayAtStart(true);
  EXPECT_FALSE(fs::exists(root));
  EXPECT_EQ(builder->BuiltVersion(), "");
}

TEST_F(BuilderSettingsTest, WritesLeaveNoTemporaryFilesBehind) {
  for (int i = 0; i < 5; ++i) builder->SetSetting("built", "v1." + std::to_string(i));
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    EXPECT_EQ(entry.path().filename(), "launcher.json");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(BuilderSettingsTest, PathsLieBelowTheRoot) {
  EXPECT_EQ(builder->PlayFolder(), root / "play");
  EXPECT_EQ(builder->ToolFolder("llvm"), root / "tools" / "llvm");
  EXPECT_EQ(builder->GameExe(), root / "play" / Exe());
}

TEST_F(BuilderSettingsTest, TheGameIsInPlaceWithItsLibraryOnlyInPackageMode) {
  const fs::path play = root / "play";
  EXPECT_FALSE(builder->IsGameInPlace());
  WriteFile(play / Exe(), "exe");
  EXPECT_FALSE(builder->PackageMode());
  EXPECT_TRUE(builder->IsGameInPlace());  // outside package mode the library is not asked for

  game.package = "Halvorn-windows.zip";
  MakeBuilder();
  EXPECT_TRUE(builder->PackageMode());
  EXPECT_FALSE(builder->IsGameInPlace());
  WriteFile(play / "Halvorn.dll", "dll");
  EXPECT_TRUE(builder->IsGameInPlace());

  game.package.clear();
  game.packages = {{"ab12", "Halvorn-eu.zip"}};
  MakeBuilder();
  EXPECT_TRUE(builder->PackageMode());
  fs::remove(play / "Halvorn.dll");
  EXPECT_FALSE(builder->IsGameInPlace());
}

}  // namespace
}  // namespace launcher::test
