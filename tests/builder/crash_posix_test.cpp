// The long jobs ended without warning (SIGKILL, as a power cut or the task manager does) at
// every log line, right after each rename or removal they make, and at seeded random moments:
// the player's own files stay exactly as they were, and running the job again gives what a run
// that was never ended gives, with nothing staged left behind.
//
// A full disk (a small tmpfs, mounted as root) makes each job fail with "cannot write" (the
// music import drops the songs it cannot convert), leave nothing that a later run trusts, and
// finish once there is room.
//
// The job runs in the job driver (tests/programs/job_driver), against this test's HTTP server.
// Each attempt starts from a copy of one prepared root.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "builder/builder_fixture.h"
#include "builder/tmpfs_mount.h"
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
namespace {
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// What one run of the driver printed and how it ended.
struct DriverRun {
  std::vector<std::string> lines;
  bool killed = false;
  int exit_code = -1;
  long changes = 0;

  int LogLines() const {
    int count = 0;
    for (const std::string& line : lines) count += line.rfind("log ", 0) == 0;
    return count;
  }
  bool Ok() const { return !lines.empty() && lines.back() == "ok"; }
};

// Runs the driver in a process group of its own with `env` added. With `kill_after` set, the
// whole group (the driver and the converters it started) is killed that long after the start.
// Any process of the group still there when the driver has gone is killed and waited for, so
// that nothing of this run writes into the next one.
DriverRun RunDriver(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                    std::chrono::microseconds kill_after = std::chrono::microseconds::max()) {
  static const bool reaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  EXPECT_TRUE(reaper);
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  const std::string program = TestProgram("job_driver").string();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  close(out[1]);
  std::thread killer;
  if (kill_after != std::chrono::microseconds::max()) {
    killer = std::thread([pid, kill_after] {
      std::this_thread::sleep_for(kill_after);
      kill(-pid, SIGKILL);
    });
  }
  DriverRun run;
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(got));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (killer.joinable()) killer.join();
  run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The driver's children, now ours: end them and reap them.
  kill(-pid, SIGKILL);
  while (waitpid(-1, nullptr, __WALL) > 0) {
  }
  run.lines = TextLines(text);
  for (const std::string& line : run.lines) {
    if (line.rfind("changes ", 0) == 0) run.changes = std::atol(line.c_str() + 8);
  }
  return run;
}

// Every file under `folder`, leaving out the log (its time stamps differ from run to run).
Files Outcome(const fs::path& folder) {
  Files files = FilesUnder(folder);
  files.erase("launcher.log");
  return files;
}

// The names of `files` that differ from or are missing in `expected`, for a failure message.
std::string Differences(const Files& expected, const Files& got) {
  std::string text;
  for (const auto& [name, bytes] : expected) {
    const auto found = got.find(name);
    if (found == got.end()) text += " missing " + name + ";";
    else if (found->second != bytes) text += " changed " + name + ";";
  }
  for (const auto& [name, bytes] : got) {
    if (expected.count(name) == 0) text += " extra " + name + ";";
  }
  return text;
}

class CrashTest : public BuilderTest {
 protected:
  // What the job's driver is given after the root.
  virtual std::vector<std::string> JobArgs() = 0;
  // The player's files of a root, as the job must never change them.
  virtual Files PlayerFiles(const fs::path& root_path) = 0;

  std::vector<std::string> Args(const fs::path& at) {
    std::vector<std::string> args = {at.string(), (scratch / "game.json").string(), "v1.0"};
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
  void RunReference() {
    const fs::path at = CopyOfRoot("reference");
    reference_run = RunDriver(Args(at), {});
    ASSERT_TRUE(reference_run.Ok()) << reference_run.lines.back();
    reference = Outcome(at);
    reference_entries = EntriesUnder(at);
    ASSERT_GT(reference_run.LogLines(), 0);
  }

  // Ends the job in a copy of the root as `env` or `kill_after` says, checks the player's
  // files, runs it again to the end and compares with the reference.
  void KillAndResume(const std::string& name, const std::map<std::string, std::string>& env,
                     std::chrono::microseconds kill_after = std::chrono::microseconds::max()) {
    SCOPED_TRACE(name);
    const fs::path at = CopyOfRoot(name);
    const Files player = PlayerFiles(at);
    const DriverRun ended = RunDriver(Args(at), env, kill_after);
    EXPECT_TRUE(ended.killed || ended.Ok()) << (ended.lines.empty() ? "" : ended.lines.back());
    const Files after = PlayerFiles(at);
    EXPECT_TRUE(after == player) << "the player's files after the kill:" << Differences(player, after);

    const DriverRun again = RunDriver(Args(at), {});
    ASSERT_TRUE(again.Ok()) << (again.lines.empty() ? "no output" : again.lines.back());
    const Files outcome = Outcome(at);
    EXPECT_TRUE(outcome == reference) << "after the next run:" << Differences(reference, outcome);
    EXPECT_EQ(EntriesUnder(at), reference_entries);  // no staging folder or temporary left
    std::error_code ec;
    fs::remove_all(at, ec);
  }

  // Every kill point of the reference run: each log line, each change (every `stride`-th when
  // there are many), and `randoms` seeded moments within the reference run's length.
  void KillEverywhere(long stride, int randoms) {
    for (int line = 1; line <= reference_run.LogLines(); ++line) {
      KillAndResume("line " + std::to_string(line),
                    {{"JOB_DRIVER_KILL_AT_LINE", std::to_string(line)}});
    }
    for (long change = 1; change <= reference_run.changes; change += stride) {
      KillAndResume("change " + std::to_string(change),
                    {{"JOB_DRIVER_KILL_AT_CHANGE", std::to_string(change)}});
    }
    const auto start = std::chrono::steady_clock::now();
    RunDriver(Args(CopyOfRoot("timed")), {});
    const auto length =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    for (int k = 0; k < randoms; ++k) {
      const auto after = std::chrono::microseconds(random() % (length.count() + 1));
      KillAndResume("random moment " + std::to_string(after.count()) + " us, seed " +
                        std::to_string(seed),
                    {}, after);
    }
  }

  // Runs the job in a copy of the root on a disk left with `room` bytes free, which fails (or
  // succeeds) with its last sentence (or its summary) holding `expected`; then makes room and
  // runs it again, which must give the reference.
  void FillTheDiskAndResume(uint64_t room, bool fails, const std::string& expected) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
    TmpfsMount disk(scratch / "disk", 32u << 20);
    if (!disk.ok()) GTEST_SKIP() << disk.reason();
    const fs::path at = CopyOfRoot("full", scratch / "disk");
    const Files player = PlayerFiles(at);
    struct statvfs info {};
    ASSERT_EQ(statvfs(at.c_str(), &info), 0);
    const uint64_t free_bytes = uint64_t(info.f_bavail) * info.f_frsize;
    ASSERT_GT(free_bytes, room);
    {
      // Real bytes: a sparse file would take no room on a tmpfs.
      std::FILE* filler = std::fopen((scratch / "disk" / "filler").c_str(), "wb");
      ASSERT_NE(filler, nullptr);
      const std::string block(65536, 'f');
      for (uint64_t left = free_bytes - room; left > 0;) {
        const size_t part = size_t(std::min<uint64_t>(left, block.size()));
        if (std::fwrite(block.data(), 1, part, filler) != part) break;
        left -= part;
      }
      std::fclose(filler);
    }

    const DriverRun full = RunDriver(Args(at), {});
    ASSERT_FALSE(full.lines.empty());
    EXPECT_EQ(full.exit_code, fails ? 1 : 0) << full.lines.back();
    const std::string& said = fails ? full.lines.back() : full.lines[full.lines.size() - 3];
    EXPECT_NE(said.find(expected), std::string::npos) << said;
    const Files after = PlayerFiles(at);
    EXPECT_TRUE(after == player) << "the player's files on a full disk:" << Differences(player, after);

    fs::remove(scratch / "disk" / "filler");
    const DriverRun again = RunDriver(Args(at), {});
    ASSERT_TRUE(again.Ok()) << again.lines.back();
    const Files outcome = Outcome(at);
    EXPECT_TRUE(outcome == reference) << "once there is room:" << Differences(reference, outcome);
    EXPECT_EQ(EntriesUnder(at), reference_entries);
  }

  HttpServer server;
  DriverRun reference_run;
  Files reference;
  std::set<std::string> reference_entries;
};

// --- The package install ----------------------------------------------------------------------

class PackageCrash : public CrashTest {
 protected:
  void SetUp() override {
    const std::string xbe = "XBEH" + std::string(300, 'x');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    game.repo = server.Url("/owner/halvorn.git");
    game.package = "Halvorn-windows.zip";
    game.releases = {{sha1.FinalHex(), "Europe"}};
    WriteFile(scratch / "game.json",
              nlohmann::json{{"title", "Halvorn"}, {"short", "Halvorn"}, {"repo", game.repo},
                             {"package", game.package}, {"releases", game.releases}}
                  .dump());

    const fs::path image = scratch / "games" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    fs::create_directories(image.parent_path());
    ASSERT_TRUE(disc.WriteGamePartition(image));

    const fs::path zip = scratch / "published" / game.package;
    fs::create_directories(zip.parent_path());
    WriteZip(zip, {{"Halvorn", ReadFile(TestProgram("fake_game")), false, true, 0755},
                   {"bin/a.bin", std::string(200000, 'a')},
                   {"bin/b.bin", "b"},
                   {"data/level.dat", "level"},
                   {"readme.txt", "read me"}});
    const std::string path = "/owner/halvorn/releases/download/v1.0/" + game.package;
    server.ServeFile(path, zip);
    server.Serve(path + ".json", nlohmann::json{{"sha256", Sha256File(zip)},
                                                {"size", fs::file_size(zip)}}
                                     .dump());

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

TEST_F(PackageCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.count("play/.next/package.stamp"), 0u);
  EXPECT_EQ(reference.at("play/bin/a.bin"), std::string(200000, 'a'));
  KillEverywhere(1, 6);
}

TEST_F(PackageCrash, AFullDiskFailsWithCannotWriteAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  // No room for the download; room for the download but not the unpack.
  for (const uint64_t room : {uint64_t(0), uint64_t(400) << 10}) FillTheDiskAndResume(room, true, "cannot write ");
}

// --- A tool install -----------------------------------------------------------------------------

class ToolCrash : public CrashTest {
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
    server.Serve("/toolchain.json",
                 nlohmann::json{{"tools",
                                 {{{"id", "cmake"},
                                   {"kind", "tar.xz"},
                                   {"strip", 1},
                                   {"url", server.Url("/files/cmake-3.tar.xz")},
                                   {"sha256", sha.FinalHex()},
                                   {"size", xz.size()}}}}}
                     .dump());
    WriteFile(scratch / "game.json",
              nlohmann::json{{"title", "Halvorn"}, {"short", "Halvorn"}, {"repo", "x"},
                             {"releases", {{"a", "b"}}}, {"toolchain", server.Url("/toolchain.json")}}
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

TEST_F(ToolCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.at("tools/cmake/share/modules.txt"), std::string(300000, 'm'));
  EXPECT_EQ(reference.count("downloads/cmake/cmake-3.tar.xz"), 0u);
  KillEverywhere(1, 6);
}

TEST_F(ToolCrash, AFullDiskFailsWithCannotWriteAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  for (const uint64_t room : {uint64_t(0), uint64_t(64) << 10}) FillTheDiskAndResume(room, true, "cannot write ");
}

// --- The music import --------------------------------------------------------------------------

class MusicCrash : public CrashTest {
 protected:
  void SetUp() override {
    WriteFile(scratch / "game.json",
              R"({"title": "Halvorn", "short": "Halvorn", "repo": "x", "releases": {"a": "b"}})");
    Tone("b.wav", 330);
    Tone("c.wav", 440);
    Tone("d.wav", 550);
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
    // An earlier import, whose songs this one keeps under new names: a song that sorts first
    // comes after it.
    MakeBuilder();
    std::string summary;
    std::string error;
    ASSERT_TRUE(builder->ImportMusic(music, summary, error)) << error;
    builder.reset();
    Tone("a.wav", 220);
  }

  // A second of a sine wave; each song its own pitch, so that a song taken for another shows.
  void Tone(const std::string& name, int frequency) {
    std::string output;
    const int code = platform.Run({"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i",
                                   "sine=frequency=" + std::to_string(frequency) + ":duration=1",
                                   PathToUtf8(music / name)},
                                  {}, {}, [&](const std::string& l) { output += l; }, nullptr);
    ASSERT_EQ(code, 0) << output;
  }

  std::vector<std::string> JobArgs() override { return {"music", music.string()}; }

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

TEST_F(MusicCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.count("play/hdd/E/TDATA/FFFE0000/MUSIC/0001/00010003.WMA"), 1u);
  KillEverywhere(1, 4);
}

TEST_F(MusicCrash, AFullDiskDropsTheSongsAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  // The import goes on without the songs it cannot convert, as it does for any failed song.
  FillTheDiskAndResume(0, false, "could not be converted");
}

}  // namespace
}  // namespace launcher::test
