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
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "builder/build_all_fixture.h"
#include "builder/crash_fixture.h"
#include "builder/tmpfs_mount.h"
#include "support/file_tree.h"
#include "support/scratch.h"

namespace launcher::test {

// Here the driver runs in a process group of its own, and `kill_after` kills the whole group
// (the driver and the converters it started). Any process of the group still there when the
// driver has gone is killed and waited for, so that nothing of this run writes into the next.
DriverRun RunDriver(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env,
                    std::chrono::microseconds kill_after) {
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
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, size_t(got));
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
  run.ReadCounts();
  return run;
}

namespace {

// The posix-only way to end a job: a full disk.
template <class Job>
class KillsAndFullDisk : public Job {
 protected:
  // Runs the job in a copy of the root on a disk left with `room` bytes free, which fails (or
  // succeeds) with its last sentence (or its summary) holding `expected`; then makes room and
  // runs it again, which must give the this->reference.
  void FillTheDiskAndResume(uint64_t room, bool fails, const std::string& expected) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
    TmpfsMount disk(this->scratch / "disk", 32u << 20);
    if (!disk.ok()) GTEST_SKIP() << disk.reason();
    const fs::path at = this->CopyOfRoot("full", this->scratch / "disk");
    const Files player = this->PlayerFiles(at);
    ASSERT_GT(FreeBytes(at), room);
    ASSERT_TRUE(FillLeaving(this->scratch / "disk", room));

    const DriverRun full = RunDriver(this->Args(at), {});
    ASSERT_FALSE(full.lines.empty());
    EXPECT_EQ(full.exit_code, fails ? 1 : 0) << full.lines.back();
    const std::string said = fails ? full.lines.back() : full.LastLogLine();
    EXPECT_NE(said.find(expected), std::string::npos) << said;
    const Files after = this->PlayerFiles(at);
    EXPECT_TRUE(after == player) << "the player's files on a full disk:"
                                 << Differences(player, after);

    fs::remove(this->scratch / "disk" / "filler");
    const DriverRun again = RunDriver(this->Args(at), {});
    ASSERT_TRUE(again.Ok()) << again.lines.back();
    const Files outcome = Outcome(at);
    EXPECT_TRUE(outcome == this->reference)
        << "once there is room:" << Differences(this->reference, outcome);
    EXPECT_EQ(EntriesUnder(at), this->reference_entries);
  }
};

using PackageCrash = KillsAndFullDisk<PackageJobTest>;
using ToolCrash = KillsAndFullDisk<ToolJobTest>;

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
  // No room for the download (refused before it starts); room for the download but not the
  // unpack (the package's size depends on the build of the stand-in game).
  const uint64_t zip = fs::file_size(scratch / "published" / game.package);
  for (const uint64_t room : {uint64_t(0), zip + (uint64_t(64) << 10)})
    FillTheDiskAndResume(room, true, room == 0 ? " free on this drive" : "cannot write ");
}

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
  for (const uint64_t room : {uint64_t(0), uint64_t(64) << 10})
    FillTheDiskAndResume(room, true, room == 0 ? " free on this drive" : "cannot write ");
}

// --- The swap of a package update ---------------------------------------------------------------

class SwapCrash : public SwapJobTest {
 protected:
  SwapCrash() : SwapJobTest(24) {}
};

TEST_F(SwapCrash, KilledAnywhereTheNextStartLeavesOneWholeVersionAndTheNextRunFinishes) {
  RunNewVersion();
  ASSERT_FALSE(HasFatalFailure());
  KillEverywhere(1, 4);
  EXPECT_GT(mended, 0);
}

TEST_F(SwapCrash, KilledWhileTheStartFinishesASwapTheNextStartFinishesIt) {
  RunNewVersion();
  ASSERT_FALSE(HasFatalFailure());
  KillTheStartAtEveryChange();
}

// "videos" sorts last: held busy (a mount point cannot be renamed), it makes the swap fail once
// everything else has moved, and everything goes back. Ended at any change of that, forward or
// back, the next start leaves one whole version.
TEST_F(SwapCrash, KilledWhileAFailedSwapIsUndoneTheNextStartLeavesOneWholeVersion) {
  RunNewVersion();
  ASSERT_FALSE(HasFatalFailure());
  job = {"replace"};
  DriverRun undone;
  {
    const fs::path at = CopyOfRoot("undone");
    TmpfsMount busy(at / "play" / "videos", 1048576);
    if (!busy.ok()) GTEST_SKIP() << busy.reason();
    undone = RunDriver(Args(at), {});
    busy.Unmount();
    const Files played = Played(Outcome(at));
    EXPECT_TRUE(played == old_version) << Differences(old_version, played);
    EXPECT_TRUE(FilesUnder(at / "play" / ".next") == FilesUnder(root / "play" / ".next"));
    EXPECT_FALSE(EntryExists(at / "play" / ".aside"));
  }
  ASSERT_FALSE(undone.lines.empty());
  EXPECT_EQ(undone.lines.back().rfind("failed Could not put videos in place", 0), 0u)
      << undone.lines.back();
  for (long change = 1; change <= undone.changes; ++change) {
    SCOPED_TRACE("ended at change " + std::to_string(change));
    const fs::path at = CopyOfRoot("undo " + std::to_string(change));
    {
      TmpfsMount busy(at / "play" / "videos", 1048576);
      ASSERT_TRUE(busy.ok()) << busy.reason();
      EXPECT_TRUE(
          RunDriver(Args(at), {{"JOB_DRIVER_KILL_AT_CHANGE", std::to_string(change)}}).killed);
    }
    CheckEnded(at);
    std::error_code ec;
    fs::remove_all(at, ec);
  }
  EXPECT_GT(mended, 0);
}

// --- The launcher's own update ------------------------------------------------------------------

using LauncherCrash = KillsAndFullDisk<LauncherJobTest>;

TEST_F(LauncherCrash, KilledAnywhereKeepsTheProgramAndTheNextRunFinishes) {
  RunReference(false);
  ASSERT_FALSE(HasFatalFailure());
  ExpectTheNewProgramInPlace();
  KillEverywhere(1, 6);
}

TEST_F(LauncherCrash, AFullDiskFailsWithCannotWriteAndTheNextRunFinishes) {
  RunReference(false);
  ASSERT_FALSE(HasFatalFailure());
  // No room for the new program, or room for a part of it: its size is known, so the download
  // is refused before it starts.
  for (const uint64_t room : {uint64_t(0), uint64_t(100) << 10})
    FillTheDiskAndResume(room, true, " free on this drive");
}

// --- The build from source ----------------------------------------------------------------------

using SourceBuildCrash = SourceBuildCrashTest<BuildAllTest>;

TEST_F(SourceBuildCrash, KilledAfterAnyStageOrAtRandomTheNextRunBuildsTheSameGame) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(reference.count("play/Halvorn"), 1u);
  ASSERT_EQ(reference.count("tools/packed/.launcher-stamp"), 1u);
  KillAfterEveryStageAndAtRandom(AllStages(), 3);
}

// Ended as git reports the clone of the source and then of its submodule: git goes with the
// launcher and leaves a .git that no fetch or submodule update can use, so the next run clones
// again.
TEST_F(SourceBuildCrash, KilledWhileCloningTheSourceOrItsSubmoduleTheNextRunBuildsTheSameGame) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  int log_line = 0;
  int clones = 0;
  for (const std::string& line : whole.lines) {
    if (line.rfind("log ", 0) != 0) continue;
    ++log_line;
    if (line.rfind("log git: Cloning into ", 0) != 0) continue;
    ++clones;
    EXPECT_TRUE(KillAndResume(line, {{"JOB_DRIVER_KILL_AT_LINE", std::to_string(log_line)}}))
        << "the driver outlived its line " << log_line;
  }
  EXPECT_EQ(clones, 2);
  EXPECT_FALSE(fs::exists(at / "source.cloning"));
}

// A power cut may end git once the submodule is cloned and before its files are checked out.
// The submodule's HEAD is then already at the wanted commit, so a later "submodule update" has
// nothing to do and exits with 0, and the build misses the submodule's files.
TEST_F(SourceBuildCrash, KilledBeforeTheSubmoduleIsCheckedOutTheNextRunBuildsTheSameGame) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  int log_line = 0;
  for (const std::string& line : whole.lines) {
    if (line.rfind("log ", 0) != 0) continue;
    ++log_line;
    if (line.rfind("log git: Cloning into ", 0) == 0) break;
  }
  FreshRoot();
  ASSERT_TRUE(Drive({{"JOB_DRIVER_KILL_AT_LINE", std::to_string(log_line)}}).killed);
  // What git leaves when it is ended there.
  const fs::path source = at / "source";
  fs::remove_all(source);
  Git({"clone", "-q", "--branch", "v1.0", game.repo, PathToUtf8(source)}, at);
  Git({"submodule", "--quiet", "init"}, source);
  fs::create_directories(source / ".git" / "modules");
  Git({"clone", "-q", "--no-checkout", "--separate-git-dir",
       PathToUtf8(source / ".git" / "modules" / "lib"),
       "file://" + PathToUtf8(scratch / "repos" / "lib"), "lib"},
      source);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_FALSE(fs::exists(source / "lib" / "version.h"));

  const DriverRun again = Drive({});
  EXPECT_TRUE(again.Ok()) << (again.lines.empty() ? "no output" : again.lines.back());
  const Files outcome = Result();
  EXPECT_TRUE(outcome == reference) << "after the next run:" << Differences(reference, outcome);
}

// The disk fills as the build reaches each stage: the build is ended at the stage's line, the
// disk is filled up to a few blocks, and the run that carries on fails with its sentence (or
// gets through, where the rest needs no room) and keeps the player's save; the run after it,
// with room again, builds the same game.
TEST_F(SourceBuildCrash, AFullDiskAtAnyStageFailsAndTheNextRunBuildsTheSameGame) {
  TmpfsMount disk(scratch / "disk", 64u << 20);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  at = scratch / "disk" / "root";
  FreshRoot();
  const DriverRun whole = Drive({});
  ASSERT_TRUE(whole.Ok()) << (whole.lines.empty() ? "no output" : whole.lines.back());
  reference = Result();

  int log_line = 0;
  for (const std::string& line : whole.lines) {
    if (line.rfind("log ", 0) != 0) continue;
    ++log_line;
    if (line.rfind("log stage ", 0) != 0) continue;
    SCOPED_TRACE("the disk full from " + line);
    FreshRoot();
    const DriverRun ended = Drive({{"JOB_DRIVER_KILL_AT_LINE", std::to_string(log_line)}});
    EXPECT_TRUE(ended.killed);
    ASSERT_TRUE(FillLeaving(scratch / "disk", 16u << 10));
    const DriverRun full = Drive({});
    ASSERT_FALSE(full.lines.empty());
    const std::string& said = full.lines.back();
    EXPECT_TRUE(full.Ok() ||
                (full.exit_code == 1 && said.rfind("failed ", 0) == 0 && said.size() > 7))
        << said;
    EXPECT_EQ(ReadFile(at / "play" / "hdd" / "E" / "save.dat"), "the player's save");

    fs::remove(scratch / "disk" / "filler");
    const DriverRun again = Drive({});
    EXPECT_TRUE(again.Ok()) << (again.lines.empty() ? "no output" : again.lines.back());
    const Files outcome = Result();
    EXPECT_TRUE(outcome == reference) << "once there is room:" << Differences(reference, outcome);
  }
}

// --- The music import --------------------------------------------------------------------------

// The songs are real: a second of a sine wave each, of its own pitch, for the system's ffmpeg.
class MusicCrash : public KillsAndFullDisk<MusicJobTest> {
 protected:
  void AddSong(int song) override {
    std::string output;
    const int code = platform.Run(
        {"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i",
         "sine=frequency=" + std::to_string(110 * (song + 1)) + ":duration=1",
         PathToUtf8(music / SongName(song))},
        {}, {}, [&](const std::string& l) { output += l; }, nullptr);
    ASSERT_EQ(code, 0) << output;
  }
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

// --- The copy of a disc image from another volume -------------------------------------------

// The image lies on a volume of its own, so that choosing it copies it into play/assets, and
// launcher.json names an earlier copy. Ended anywhere, the choice leaves at most the copy's
// temporary or the whole copy there, and names the image only once its copy is whole; the next
// start removes the temporary, and choosing again gives what a choice never ended gives.
class ChooseCrash : public CrashTest {
 protected:
  void SetUp() override {
    volume = std::make_unique<TmpfsMount>(scratch / "other volume", 64u << 20);
    if (!volume->ok()) GTEST_SKIP() << volume->reason();
    const std::string xbe = "XBEH" + std::string(300, 'x');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    game.releases = {{sha1.FinalHex(), "Europe"}};
    WriteFile(scratch / "game.json", nlohmann::json{{"title", "Halvorn"},
                                                    {"short", "Halvorn"},
                                                    {"repo", "x"},
                                                    {"releases", game.releases}}
                                         .dump());
    image = scratch / "other volume" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    ASSERT_TRUE(disc.WriteGamePartition(image));
    fs::resize_file(image, 20u << 20);  // three blocks of the copy
    WriteFile(root / "launcher.json", R"({"game": "/earlier/disc.iso"})");
  }

  std::vector<std::string> JobArgs() override { return {"choose", image.string()}; }

  Files PlayerFiles(const fs::path&) override { return FilesUnder(image.parent_path()); }

  void CheckEnded(const fs::path& at) override {
    const fs::path assets = at / "play" / "assets";
    const std::set<std::string> entries = EntriesUnder(assets);
    for (const std::string& entry : entries) {
      EXPECT_TRUE(entry == "Halvorn.iso" || entry == "Halvorn.iso.tmp") << entry;
    }
    const bool whole = entries.count("Halvorn.iso") == 1;
    if (whole) {
      EXPECT_EQ(fs::file_size(assets / "Halvorn.iso"), fs::file_size(image));
    }
    const nlohmann::json settings =
        nlohmann::json::parse(ReadFile(at / "launcher.json"), nullptr, false);
    if (settings.value("game", "") == image.string()) {
      EXPECT_TRUE(whole) << "the image is named before its copy is whole";
    } else {
      EXPECT_EQ(settings.value("game", ""), "/earlier/disc.iso");
    }
    leftovers += entries.count("Halvorn.iso.tmp");

    std::vector<std::string> start = Args(at);
    start.resize(3);
    start.push_back("start");
    ASSERT_TRUE(RunDriver(start, {}).Ok());
    const std::set<std::string> after = EntriesUnder(assets);
    EXPECT_EQ(after.count("Halvorn.iso.tmp"), 0u) << "the start leaves the temporary";
    EXPECT_EQ(after.count("Halvorn.iso"), entries.count("Halvorn.iso"));
  }

  std::unique_ptr<TmpfsMount> volume;
  fs::path image;
  int leftovers = 0;  // ended copies that left their temporary for the start
};

TEST_F(ChooseCrash, KilledAnywhereTheNextStartClearsTheCopyAndChoosingAgainFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.at("play/assets/Halvorn.iso").size(), 20u << 20);
  // After each block of the copy, as well as at the other kill points.
  for (int report = 1; report <= 3; ++report) {
    EXPECT_TRUE(KillAndResume("report " + std::to_string(report),
                              {{"JOB_DRIVER_KILL_AT_STATUS", std::to_string(report)}}));
  }
  EXPECT_EQ(leftovers, 3);
  KillEverywhere(1, 4);
}

}  // namespace
}  // namespace launcher::test
