// What the tests that end a job without warning share: the job driver's runs
// (tests/programs/job_driver), the files a job leaves, a base fixture that keeps a prepared root,
// runs the job in copies of it and ends it at every log line, every change and random moments,
// the prepared roots of the package install, an update's swap, a tool install, the launcher's
// own update and the music import, served by the test's own HTTP server on 127.0.0.1, and the kills of the build
// from source, which works in one folder.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "builder/builder_fixture.h"
#include "catalogue/game_copy.h"
#include "platform/file_ops.h"
#include "platform/sha.h"
#include "support/disc_image_writer.h"
#include "support/file_tree.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher::test {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// What one run of the driver printed and how it ended.
struct DriverRun {
  std::vector<std::string> lines;
  bool killed = false;
  int exit_code = -1;
  long changes = 0;    // the renames and removals the job made, from its "changes" line
  long long took = 0;  // the job's own length in microseconds, from its "took" line

  int LogLines() const {
    int count = 0;
    for (const std::string& line : lines) count += line.rfind("log ", 0) == 0;
    return count;
  }
  bool Ok() const { return !lines.empty() && lines.back() == "ok"; }
  // The job's last log line, "log " left out; "" when it logged nothing.
  std::string LastLogLine() const {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      if (line->rfind("log ", 0) == 0) return line->substr(4);
    }
    return "";
  }

  // Takes `changes` and `took` from the lines, once they are all in.
  void ReadCounts() {
    for (const std::string& line : lines) {
      if (line.rfind("changes ", 0) == 0) changes = std::atol(line.c_str() + 8);
      if (line.rfind("took ", 0) == 0) took = std::atoll(line.c_str() + 5);
    }
  }
};

// Runs the driver with `args` and `env` added to its environment, to its end or until it ends
// itself; with `kill_after` set, it is killed about that long after its job started. Each test
// program defines it for its system.
DriverRun RunDriver(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env,
                    std::chrono::microseconds kill_after = std::chrono::microseconds::max());

// Every file under `folder`, leaving out the log (its time stamps differ from run to run).
inline Files Outcome(const fs::path& folder) {
  Files files = FilesUnder(folder);
  files.erase("launcher.log");
  return files;
}

// The names of `files` that differ from or are missing in `expected`, for a failure message.
inline std::string Differences(const Files& expected, const Files& got) {
  std::string text;
  for (const auto& [name, bytes] : expected) {
    const auto found = got.find(name);
    if (found == got.end())
      text += " missing " + name + ";";
    else if (found->second != bytes)
      text += " changed " + name + ";";
  }
  for (const auto& [name, bytes] : got) {
    if (expected.count(name) == 0) text += " extra " + name + ";";
  }
  return text;
}

// `count` seeded moments within a job of `took` microseconds, each named with its seed for a
// failure message.
inline std::vector<std::pair<std::string, std::chrono::microseconds>> RandomMoments(long long took,
                                                                                    int count) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::vector<std::pair<std::string, std::chrono::microseconds>> moments;
  for (int k = 0; k < count; ++k) {
    const auto after = std::chrono::microseconds(random() % (took + 1));
    moments.emplace_back(
        "random moment " + std::to_string(after.count()) + " us, seed " + std::to_string(seed),
        after);
  }
  return moments;
}

class CrashTest : public BuilderTest {
 protected:
  // What the job's driver is given after the root.
  virtual std::vector<std::string> JobArgs() = 0;
  // The player's files of a root, as the job must never change them.
  virtual Files PlayerFiles(const fs::path& root_path) = 0;
  // What a job ended in `at` must have left, looked at before the job runs again.
  virtual void CheckEnded(const fs::path& /*at*/) {}

  std::vector<std::string> Args(const fs::path& at) {
    std::vector<std::string> args = {at.string(), (scratch / "game.json").string(),
                                     launcher_version};
    for (const std::string& arg : JobArgs()) args.push_back(arg);
    return args;
  }

  // A fresh copy of the prepared root, in `where`.
  fs::path CopyOfRoot(const std::string& name, const fs::path& where = {}) {
    const fs::path copy = (where.empty() ? scratch / "runs" : where) / name;
    fs::create_directories(copy.parent_path());
    fs::copy(root, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    return copy;
  }

  // The job run to its end in a copy of the root: what every interrupted run must come to.
  // `logs`: the job writes log lines (the launcher's own update writes none).
  void RunReference(bool logs = true) {
    const fs::path at = CopyOfRoot("reference");
    reference_run = RunDriver(Args(at), {});
    ASSERT_TRUE(reference_run.Ok()) << reference_run.lines.back();
    reference = Outcome(at);
    reference_entries = EntriesUnder(at);
    if (logs) {
      ASSERT_GT(reference_run.LogLines(), 0);
    }
  }

  // Ends the job in a copy of the root as `env` or `kill_after` says, checks the player's
  // files, runs it again to the end and compares with the reference. True when the job was
  // ended (a random moment may come after its end).
  bool KillAndResume(const std::string& name, const std::map<std::string, std::string>& env,
                     std::chrono::microseconds kill_after = std::chrono::microseconds::max()) {
    SCOPED_TRACE(name);
    const fs::path at = CopyOfRoot(name);
    const Files player = PlayerFiles(at);
    const DriverRun ended = RunDriver(Args(at), env, kill_after);
    EXPECT_TRUE(ended.killed || ended.Ok()) << (ended.lines.empty() ? "" : ended.lines.back());
    const Files after = PlayerFiles(at);
    EXPECT_TRUE(after == player) << "the player's files after the kill:"
                                 << Differences(player, after);
    CheckEnded(at);

    const DriverRun again = RunDriver(Args(at), {});
    if (!again.Ok()) {
      ADD_FAILURE() << "the next run: " << (again.lines.empty() ? "no output" : again.lines.back());
      return ended.killed;
    }
    const Files outcome = Outcome(at);
    EXPECT_TRUE(outcome == reference) << "after the next run:" << Differences(reference, outcome);
    EXPECT_EQ(EntriesUnder(at), reference_entries);  // no staging folder or temporary left
    std::error_code ec;
    fs::remove_all(at, ec);
    return ended.killed;
  }

  // Ends the job at each of the reference run's log lines.
  void KillAtEveryLine() {
    for (int line = 1; line <= reference_run.LogLines(); ++line) {
      EXPECT_TRUE(KillAndResume("line " + std::to_string(line),
                                {{"JOB_DRIVER_KILL_AT_LINE", std::to_string(line)}}))
          << "the driver outlived its line " << line;
    }
  }

  // Every kill point of the reference run: each log line, each change (every `stride`-th when
  // there are many), and `randoms` seeded moments within the reference run's length.
  void KillEverywhere(long stride, int randoms) {
    KillAtEveryLine();
    EXPECT_GT(reference_run.changes, 0) << "the driver counts no renames or removals";
    for (long change = 1; change <= reference_run.changes; change += stride) {
      EXPECT_TRUE(KillAndResume("change " + std::to_string(change),
                                {{"JOB_DRIVER_KILL_AT_CHANGE", std::to_string(change)}}))
          << "the driver outlived its change " << change;
    }
    for (const auto& [name, after] : RandomMoments(reference_run.took, randoms)) {
      KillAndResume(name, {}, after);
    }
  }

  std::string launcher_version = "v1.0";  // the driver's launcher
  HttpServer server;
  DriverRun reference_run;
  Files reference;
  std::set<std::string> reference_entries;
};

// --- The package install ----------------------------------------------------------------------

class PackageJobTest : public CrashTest {
 protected:
  void SetUp() override {
    const std::string xbe = "XBEH" + std::string(300, 'x');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    game.repo = server.Url("/owner/halvorn.git");
    game.package = "Halvorn-windows.zip";
    game.releases = {{sha1.FinalHex(), "Europe"}};
    WriteFile(scratch / "game.json", nlohmann::json{{"title", "Halvorn"},
                                                    {"short", "Halvorn"},
                                                    {"repo", game.repo},
                                                    {"package", game.package},
                                                    {"releases", game.releases}}
                                         .dump());

    const fs::path image = scratch / "games" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    fs::create_directories(image.parent_path());
    ASSERT_TRUE(disc.WriteGamePartition(image));

    const fs::path zip = scratch / "published" / game.package;
    fs::create_directories(zip.parent_path());
    WriteZip(zip, {{Exe(), ReadFile(TestProgram("fake_game")), false, true, 0755},
                   {"bin/a.bin", std::string(200000, 'a')},
                   {"bin/b.bin", "b"},
                   {"data/level.dat", "level"},
                   {"readme.txt", "read me"}});
    const std::string path = "/owner/halvorn/releases/download/v1.0/" + game.package;
    server.ServeFile(path, zip);
    server.Serve(path + ".json",
                 nlohmann::json{{"sha256", Sha256File(zip)}, {"size", fs::file_size(zip)}}.dump());

    // The player's files, and an older game in place whose files the new one replaces.
    WriteFile(root / "play" / "logs" / "old.log", "the player's log");
    WriteFile(root / "play" / "settings.toml", "the player's settings");
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
    WriteFile(root / "play" / "bin" / "a.bin", "the old game's a");
    WriteFile(root / "play" / "Halvorn", "the old game");
    MakeBuilder();
    const GameCopy copy = IdentifyGameCopy(game, image);
    ASSERT_TRUE(copy.ok) << copy.message;
    std::string error;
    ASSERT_TRUE(builder->ChooseGame(copy, error)) << error;
    builder->SetPlayAtStart(true);
    builder.reset();
  }

  std::vector<std::string> JobArgs() override { return {"build"}; }

  Files PlayerFiles(const fs::path& at) override {
    Files files;
    for (const char* folder : {"hdd", "logs", "assets"}) {
      for (const auto& [name, bytes] : FilesUnder(at / "play" / folder)) {
        files[std::string(folder) + "/" + name] = bytes;
      }
    }
    files["settings.toml"] = ReadFile(at / "play" / "settings.toml");
    nlohmann::json settings = nlohmann::json::parse(ReadFile(at / "launcher.json"), nullptr, false);
    if (settings.is_object()) settings.erase("built");
    files["launcher.json"] = settings.dump();
    return files;
  }
};

// --- The swap of a package update --------------------------------------------------------------

// An update of an installed package, ready to swap: the old package (v1.0) in place (its game,
// its library, its stamp, top-level files, a folder "many" of `many_files` small files and a
// folder "videos" whose name sorts last) and the new one (v1.1, the driver's launcher) unpacked
// into play/.next with its code prepared. `job` is what the driver runs: "build" finishes the
// install, "replace" only swaps. However it is ended, the next start must leave one version
// whole, the old one or the new one, recorded as built.
class SwapJobTest : public PackageJobTest {
 protected:
  explicit SwapJobTest(int many) : many_files(many) {}

  void SetUp() override {
    PackageJobTest::SetUp();
    if (HasFatalFailure()) return;
    Publish("old", "v1.0");
    MakeBuilder();
    std::string error;
    ASSERT_TRUE(builder->BuildAll(error)) << error;
    // The new package unpacked and prepared; the game then fails, so the install ends there.
    launcher_version = game.launcher_version = "v1.1";
    Publish("new", launcher_version);
    MakeBuilder();
    WriteFile(root / "fake_game.txt", "dll\nexit 3\n");
    EXPECT_FALSE(builder->BuildAll(error));
    fs::remove(root / "fake_game.txt");
    builder.reset();
    ASSERT_TRUE(fs::exists(root / "play" / ".next" / "Halvorn.dll"));
    ASSERT_TRUE(fs::exists(root / "play" / ".next" / "package.stamp"));
    old_version = Played(Outcome(root));
  }

  void Publish(const std::string& version, const std::string& tag) {
    std::vector<ZipEntry> entries = {{Exe(), ReadFile(TestProgram("fake_game")), false, true, 0755},
                                     {"readme.txt", version + " readme"},
                                     {"videos/intro.bik", version + " intro"},
                                     {version + "-only.txt", version}};
    for (int file = 0; file < many_files; ++file) {
      entries.push_back({"many/" + std::to_string(1000 + file) + ".dat", version + " file"});
    }
    const fs::path zip = scratch / "published" / version / game.package;
    fs::create_directories(zip.parent_path());
    WriteZip(zip, entries);
    const std::string path = "/owner/halvorn/releases/download/" + tag + "/" + game.package;
    server.ServeFile(path, zip);
    server.Serve(path + ".json",
                 nlohmann::json{{"sha256", Sha256File(zip)}, {"size", fs::file_size(zip)}}.dump());
  }

  std::vector<std::string> JobArgs() override { return job; }

  // The play folder without the staging folder: the game and the player's files.
  static Files Played(const Files& root_files) {
    Files files;
    for (const auto& [name, bytes] : root_files) {
      if (name.rfind("play/", 0) == 0 && name.rfind("play/.next/", 0) != 0) files[name] = bytes;
    }
    return files;
  }

  // The next start (a Builder made on the root) leaves exactly one version, with nothing aside,
  // and launcher.json names it: with the new version in place, no update is offered (and
  // `--play` starts the game).
  void CheckEnded(const fs::path& at) override {
    mended += EntryExists(at / "play" / ".aside");
    Builder started(game, at, http.get(), &platform);
    EXPECT_FALSE(EntryExists(at / "play" / ".aside"));
    const Files played = Played(Outcome(at));
    EXPECT_TRUE(played == old_version || played == new_version)
        << "not the old version:" << Differences(old_version, played).substr(0, 500)
        << "\nnot the new version:" << Differences(new_version, played).substr(0, 500);
    EXPECT_TRUE(started.IsGameInPlace());
    const bool is_new = played == new_version;
    EXPECT_EQ(started.BuiltVersion(), is_new ? "v1.1" : "v1.0");
    bool update_ready = is_new;
    std::string error;
    EXPECT_TRUE(started.CheckGameUpdate(update_ready, error)) << error;
    EXPECT_EQ(update_ready, !is_new);
  }

  // The reference run, and the new version it puts in place.
  void RunNewVersion() {
    RunReference();
    new_version = Played(reference);
    ASSERT_TRUE(new_version != old_version);
  }

  // Ends a swap after its first three renames (the stamp aside and in, the game aside), then
  // ends the start that carries it forward at each of its first 20 changes (every move, and the
  // removals of .aside's small entries) and at every 10th after (the removal of "many"): each
  // time, the start after that leaves the new version whole.
  void KillTheStartAtEveryChange() {
    job = {"replace"};
    const fs::path ended = CopyOfRoot("ended");
    ASSERT_TRUE(RunDriver(Args(ended), {{"JOB_DRIVER_KILL_AT_CHANGE", "3"}}).killed);
    ASSERT_TRUE(EntryExists(ended / "play" / ".aside"));
    job = {"start"};
    const DriverRun start = RunDriver(Args(CopyOf(ended, "counted")), {});
    ASSERT_TRUE(start.Ok()) << (start.lines.empty() ? "no output" : start.lines.back());
    ASSERT_GT(start.changes, 3);
    for (long change = 1; change <= start.changes; change += change < 20 ? 1 : 10) {
      SCOPED_TRACE("the start ended at its change " + std::to_string(change));
      const fs::path at = CopyOf(ended, "start");
      EXPECT_TRUE(RunDriver(Args(at), {{"JOB_DRIVER_KILL_AT_CHANGE", std::to_string(change)}})
                      .killed);
      CheckEnded(at);
      const Files played = Played(Outcome(at));
      EXPECT_TRUE(played == new_version) << Differences(new_version, played);
    }
  }

  // A copy of the folder `from` as `name`, to end a job there once more.
  fs::path CopyOf(const fs::path& from, const std::string& name) {
    const fs::path copy = scratch / "runs" / name;
    std::error_code ec;
    fs::remove_all(copy, ec);
    fs::copy(from, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    return copy;
  }

  const int many_files;
  std::vector<std::string> job = {"build"};
  Files old_version;
  Files new_version;
  int mended = 0;  // ended jobs that left a swap begun for the next start
};

// --- A tool install -----------------------------------------------------------------------------

class ToolJobTest : public CrashTest {
 protected:
  void SetUp() override {
    TarWriter tar;
    tar.Folder("cmake-3/");
    tar.File("cmake-3/bin/cmake", "#!/bin/sh\n", 0755);
    tar.File("cmake-3/share/modules.txt", std::string(300000, 'm'));
    tar.Symlink("cmake-3/bin/ctest", "cmake");
    // Blocks of 64 KiB, so that the unpack is stopped in the middle as well.
    const std::string xz = XzCompress(tar.Finish(), 65536);
    server.Serve("/files/cmake-3.tar.xz", xz);
    Sha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>(xz.data()), xz.size());
    server.Serve("/toolchain.json", nlohmann::json{{"tools",
                                                    {{{"id", "cmake"},
                                                      {"kind", "tar.xz"},
                                                      {"strip", 1},
                                                      {"url", server.Url("/files/cmake-3.tar.xz")},
                                                      {"sha256", sha.FinalHex()},
                                                      {"size", xz.size()}}}}}
                                        .dump());
    WriteFile(scratch / "game.json", nlohmann::json{{"title", "Halvorn"},
                                                    {"short", "Halvorn"},
                                                    {"repo", "x"},
                                                    {"releases", {{"a", "b"}}},
                                                    {"toolchain", server.Url("/toolchain.json")}}
                                         .dump());
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
    WriteFile(root / "launcher.json", R"({"game": "/games/Halvorn.iso", "play_at_start": true})");
    // Another tool, installed earlier, stays as it is.
    WriteFile(root / "tools" / "ninja" / "ninja", "ninja");
  }

  std::vector<std::string> JobArgs() override { return {"tool", "cmake"}; }

  Files PlayerFiles(const fs::path& at) override {
    Files files = FilesUnder(at / "tools" / "ninja");
    files["save.dat"] = ReadFile(at / "play" / "hdd" / "E" / "save.dat");
    files["launcher.json"] = ReadFile(at / "launcher.json");
    return files;
  }
};

// --- The launcher's own update ------------------------------------------------------------------

class LauncherJobTest : public CrashTest {
 protected:
  void SetUp() override {
    WriteFile(scratch / "game.json",
              R"({"title": "Halvorn", "short": "Halvorn", "repo": "x", "releases": {"a": "b"}})");
    server.Serve("/HalvornLauncher", kNewProgram);
    WriteFile(root / "bin" / "HalvornLauncher", kOldProgram);
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
  }

  std::vector<std::string> JobArgs() override {
    return {"launcher", "bin/HalvornLauncher", server.Url("/HalvornLauncher"),
            Sha256Of(kNewProgram), std::to_string(kNewProgram.size())};
  }

  // The program must be whole under its own name at every moment, the old one or the new one;
  // with `swap_in_two_renames` (where a running program cannot be replaced, only renamed) it may
  // also be between the two renames, the old one aside and the new one beside it, both whole.
  Files PlayerFiles(const fs::path& at) override {
    const fs::path bin = at / "bin";
    const std::string bytes = ReadFile(bin / "HalvornLauncher");
    bool whole = bytes == kOldProgram || bytes == kNewProgram;
    if (!whole && swap_in_two_renames && !fs::exists(bin / "HalvornLauncher")) {
      whole = ReadFile(bin / "HalvornLauncher.old") == kOldProgram &&
              ReadFile(bin / "HalvornLauncher.new") == kNewProgram;
    }
    return {{"save.dat", ReadFile(at / "play" / "hdd" / "E" / "save.dat")},
            {"program whole", whole ? "yes" : "no"}};
  }

  // The reference run's end: the new program under the program's name, the old one kept aside.
  void ExpectTheNewProgramInPlace() {
    EXPECT_EQ(reference.at("bin/HalvornLauncher"), kNewProgram);
    EXPECT_EQ(reference.at("bin/HalvornLauncher.old"), kOldProgram);
    EXPECT_EQ(reference.count("bin/HalvornLauncher.new"), 0u);
  }

  bool swap_in_two_renames = false;
  const std::string kOldProgram = "the running launcher";
  const std::string kNewProgram = std::string(300000, 'n');
};

// --- The music import --------------------------------------------------------------------------

// The music import over a folder of four songs, three of which an earlier import brought in:
// this one keeps them under new names, since the song that sorts first comes after it. Each
// system makes the songs its converter takes (`AddSong`, each song its own, so that a song taken
// for another shows) and may first serve its converter (`ServeConverter`).
class MusicJobTest : public CrashTest {
 protected:
  void SetUp() override {
    ServeConverter();
    if (this->HasFatalFailure()) return;
    nlohmann::json description = {
        {"title", "Halvorn"}, {"short", "Halvorn"}, {"repo", "x"}, {"releases", {{"a", "b"}}}};
    if (!game.toolchain.empty()) description["toolchain"] = game.toolchain;
    WriteFile(scratch / "game.json", description.dump());
    for (int song = 2; song <= 4; ++song) AddSong(song);
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
    MakeBuilder();
    std::string summary;
    std::string error;
    ASSERT_TRUE(builder->ImportMusic(music, summary, error)) << error;
    builder.reset();
    AddSong(1);
  }

  virtual void ServeConverter() {}
  // Writes the song numbered `song` (1 to 4) into `music`, named "a.wav" to "d.wav".
  virtual void AddSong(int song) = 0;

  static std::string SongName(int song) { return std::string(1, char('a' + song - 1)) + ".wav"; }

  std::vector<std::string> JobArgs() override { return {"music", PathToUtf8(music)}; }

  Files PlayerFiles(const fs::path& at) override {
    Files files = FilesUnder(music);
    files["save.dat"] = ReadFile(at / "play" / "hdd" / "E" / "save.dat");
    return files;
  }

  fs::path music = [this] {
    fs::create_directories(scratch / "Music");
    return scratch / "Music";
  }();
};

// --- The build from source ----------------------------------------------------------------------

// The build from source of a `BuildTest` fixture (one that prepares the tools' server, the game's
// repository and the chosen game copy in `root`), run by the driver. Every run works in the same
// folder, so that the absolute paths the build writes into what it makes are the same from run
// to run. What must match a run that was never ended: the installed game, every tool's stamp and
// the build's tools stamp, and launcher.json (the rest of the CMake build folder holds time
// stamps); the player's save stays as it was.
template <class BuildTest>
class SourceBuildCrashTest : public BuildTest {
 protected:
  void SetUp() override {
    BuildTest::SetUp();
    if (this->HasFatalFailure()) return;
    this->builder.reset();
    const GameDescription& game = this->game;
    WriteFile(this->scratch / "game.json", nlohmann::json{{"title", game.title},
                                                          {"short", game.title},
                                                          {"exes", game.exes},
                                                          {"xbes", game.xbes},
                                                          {"repo", game.repo},
                                                          {"branch", game.branch},
                                                          {"toolchain", game.toolchain},
                                                          {"releases", game.releases}}
                                               .dump());
    WriteFile(this->root / "play" / "hdd" / "E" / "save.dat", "the player's save");
  }

  DriverRun Drive(const std::map<std::string, std::string>& env,
                  std::chrono::microseconds kill_after = std::chrono::microseconds::max()) {
    return RunDriver({PathToUtf8(at), PathToUtf8(this->scratch / "game.json"), "v1.0", "build"},
                     env, kill_after);
  }

  void FreshRoot() {
    std::error_code ec;
    fs::remove_all(at, ec);
    fs::create_directories(at.parent_path());
    fs::copy(this->root, at, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }

  Files Result() const {
    Files files;
    for (const auto& [name, bytes] : FilesUnder(at)) {
      const std::string file = fs::path(name).filename().string();
      if (name.rfind("play/", 0) == 0 || file == ".launcher-stamp" || file == ".launcher-tools" ||
          name == "launcher.json")
        files[name] = bytes;
    }
    return files;
  }

  // The build run to its end in a fresh root: what every interrupted build must come to.
  void RunReference() {
    FreshRoot();
    whole = Drive({});
    ASSERT_TRUE(whole.Ok()) << (whole.lines.empty() ? "no output" : whole.lines.back());
    reference = Result();
  }

  // Ends the build as `env` or `kill_after` says and runs it again to the end. True when the
  // build was ended (a random moment may come after its end).
  bool KillAndResume(const std::string& name, const std::map<std::string, std::string>& env,
                     std::chrono::microseconds kill_after = std::chrono::microseconds::max()) {
    SCOPED_TRACE(name);
    FreshRoot();
    const DriverRun ended = Drive(env, kill_after);
    EXPECT_TRUE(ended.killed || ended.Ok()) << (ended.lines.empty() ? "" : ended.lines.back());
    EXPECT_EQ(ReadFile(at / "play" / "hdd" / "E" / "save.dat"), "the player's save");
    const DriverRun again = Drive({});
    EXPECT_TRUE(again.Ok()) << (again.lines.empty() ? "no output" : again.lines.back());
    const Files outcome = Result();
    EXPECT_TRUE(outcome == reference) << "after the next run:" << Differences(reference, outcome);
    return ended.killed;
  }

  // Ends the build right after each of the reference run's "stage " lines (and so between
  // stages and right after the install), which must name `stages`, then at `randoms` seeded
  // moments within its length.
  void KillAfterEveryStageAndAtRandom(const std::vector<std::string>& stages, int randoms) {
    int log_line = 0;
    std::vector<std::string> seen;
    for (const std::string& line : whole.lines) {
      if (line.rfind("log ", 0) != 0) continue;
      ++log_line;
      if (line.rfind("log stage ", 0) != 0) continue;
      seen.push_back(line.substr(10, line.find(':') - 10));
      EXPECT_TRUE(KillAndResume(line, {{"JOB_DRIVER_KILL_AT_LINE", std::to_string(log_line)}}))
          << "the driver outlived its line " << log_line;
    }
    EXPECT_EQ(seen, stages);
    for (const auto& [name, after] : RandomMoments(whole.took, randoms)) {
      KillAndResume(name, {}, after);
    }
  }

  fs::path at = this->scratch / "runs" / "root";
  DriverRun whole;
  Files reference;
};

}  // namespace launcher::test
