// Two versions of a package install around the swap that replaces one with the other: the old
// version (v1.0, recorded as built) in the play folder with the player's files beside it, and
// the new one (v1.1, the launcher's own) staged in play/.next with the entries that never move. The tests move entries by hand to make the
// states an ended swap leaves, and compare the play folder with either whole version.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>

#include "builder/builder_fixture.h"
#include "platform/file_ops.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {

class SwapTest : public BuilderTest {
 protected:
  using Files = std::map<std::string, std::string>;

  void SetUp() override {
    game.package = "Halvorn-windows.zip";
    game.launcher_version = "v1.1";
    WriteFile(root / "launcher.json", R"({"built": "v1.0"})");
    WriteTree(Play(), OldVersion());
    WriteTree(Play(), PlayersFiles());
    WriteTree(Next(), NewVersion());
    WriteTree(Next(), StaysBehind());
    MakeBuilder();
  }

  std::filesystem::path Play() const { return root / "play"; }
  std::filesystem::path Next() const { return Play() / ".next"; }
  std::filesystem::path Aside() const { return Play() / ".aside"; }

  // The entries of each version; "bin" and "videos" are folders. The old version has a file the
  // new one does not bring (it stays), the new one a file of its own.
  Files OldVersion() {
    return {{Exe(), "old exe"},           {"Halvorn.dll", "old dll"},
            {"package.stamp", "old"},     {"bin/a.bin", "old a"},
            {"bin/b.bin", "old b"},       {"readme.txt", "old readme"},
            {"videos/intro.bik", "old intro"}, {"only-old.txt", "stays"}};
  }
  Files NewVersion() {
    return {{Exe(), "new exe"},           {"Halvorn.dll", "new dll"},
            {"package.stamp", "new"},     {"bin/a.bin", "new a"},
            {"bin/c.bin", "new c"},       {"readme.txt", "new readme"},
            {"videos/intro.bik", "new intro"}, {"added.txt", "added"}};
  }
  // Staged entries that never move: the player's kinds of files, names of the player's folders,
  // the launcher's own folders and the version the staging folder holds.
  static Files StaysBehind() {
    return {{"logs/package.log", "the package's log"}, {"config.toml", "the package's settings"},
            {"HDD", "a file named as the player's saves"}, {"Assets", "a file named as the disc"},
            {".Aside/x", "not the launcher's"},          {".next/y", "not the launcher's"},
            {".aside-3/z", "not the launcher's"},        {".launcher-version", "v1.1"}};
  }
  static Files PlayersFiles() {
    return {{"logs/old.log", "the player's log"}, {"settings.toml", "the player's settings"},
            {"hdd/E/save.dat", "the player's save"}, {"assets/Halvorn.iso", "the player's disc"},
            {"screenshots/a.png", "a shot"}};
  }

  // The play folder (staging and .aside left out) as each whole version makes it.
  Files WholeOld() { return Merge(OldVersion(), PlayersFiles()); }
  // Each top-level entry the new version brings replaces the old one whole.
  Files WholeNew() {
    std::set<std::string> replaced;
    for (const auto& [name, bytes] : NewVersion()) replaced.insert(name.substr(0, name.find('/')));
    Files files = PlayersFiles();
    for (const auto& [name, bytes] : OldVersion()) {
      if (!replaced.count(name.substr(0, name.find('/')))) files[name] = bytes;
    }
    return Merge(files, NewVersion());
  }
  Files PlayTree() const {
    Files files;
    for (const auto& [name, bytes] : FilesUnder(Play())) {
      if (name.rfind(".next/", 0) != 0 && name.rfind(".aside", 0) != 0) files[name] = bytes;
    }
    return files;
  }
  // launcher.json's "built"; "" when none.
  std::string Built() const {
    const auto settings = nlohmann::json::parse(ReadFile(root / "launcher.json"), nullptr, false);
    return settings.is_object() && settings.contains("built") && settings["built"].is_string()
               ? settings["built"].get<std::string>()
               : "";
  }

  // What an ended swap leaves, one rename at a time: the old `name` aside, the staged one in,
  // and back again.
  void MoveAside(const std::string& name) { Rename(Play() / name, Aside() / name); }
  void MoveIn(const std::string& name) { Rename(Next() / name, Play() / name); }
  void MoveBack(const std::string& name) { Rename(Play() / name, Next() / name); }
  void MoveOldBack(const std::string& name) { Rename(Aside() / name, Play() / name); }
  void Swap(const std::string& name) {
    MoveAside(name);
    MoveIn(name);
  }

  // The play folder holds exactly the new version, recorded as built, and the staging folder
  // what never moves (or nothing, where a start finished the swap and removed it).
  void ExpectTheNewVersionWhole(bool staging_left = true) {
    EXPECT_EQ(PlayTree(), WholeNew());
    EXPECT_FALSE(EntryExists(Aside()));
    if (staging_left) {
      EXPECT_EQ(FilesUnder(Next()), StaysBehind());
    } else {
      EXPECT_FALSE(EntryExists(Next()));
    }
    EXPECT_EQ(Built(), "v1.1");
  }
  // The play folder holds exactly the old version, recorded as built, and the staging folder the
  // whole package.
  void ExpectTheOldVersionWhole() {
    EXPECT_EQ(PlayTree(), WholeOld());
    EXPECT_FALSE(EntryExists(Aside()));
    EXPECT_EQ(FilesUnder(Next()), Merge(NewVersion(), StaysBehind()));
    EXPECT_EQ(Built(), "v1.0");
  }

 private:
  static void WriteTree(const std::filesystem::path& folder, const Files& files) {
    for (const auto& [name, bytes] : files) WriteFile(folder / name, bytes);
  }
  static Files Merge(Files files, const Files& more) {
    for (const auto& [name, bytes] : more) files[name] = bytes;
    return files;
  }
  static void Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::create_directories(to.parent_path(), ec);
    std::filesystem::rename(from, to, ec);
    ASSERT_FALSE(ec) << from << " -> " << to << ": " << ec.message();
  }
};

}  // namespace launcher::test
