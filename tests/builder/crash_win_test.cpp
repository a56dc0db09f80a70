// The long jobs ended with TerminateProcess, as the task manager ends the launcher, after each of
// their log lines, right after each rename or removal they make, and at seeded random moments:
// the player's own files stay exactly as they were, and running the job again gives what a run
// that was never ended gives, with nothing staged left behind.
//
// The job runs in the job driver (tests/programs/job_driver), against this test's HTTP server;
// the driver ends itself where its environment says, and the converters it started end with it
// (they run in its kill-on-close job object).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/crash_fixture.h"
#include "platform/platform.h"
#include "platform/sha.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher::test {

// Here `kill_after` is the driver's own timer, started with its job.
DriverRun RunDriver(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env,
                    std::chrono::microseconds kill_after) {
  std::vector<std::string> command = {PathToUtf8(TestProgram("job_driver"))};
  command.insert(command.end(), args.begin(), args.end());
  std::map<std::string, std::string> driver_env = env;
  if (kill_after != std::chrono::microseconds::max()) {
    driver_env["JOB_DRIVER_KILL_AFTER_US"] =
        std::to_string(std::max<long long>(kill_after.count(), 1));
  }
  DriverRun run;
  const std::unique_ptr<Platform> platform = CreatePlatform();
  run.exit_code = platform->Run(
      command, {}, driver_env, [&run](const std::string& line) { run.lines.push_back(line); },
      nullptr);
  // TerminateProcess(..., 9) is the driver's own end; a job ends with 0 or 1.
  run.killed = run.exit_code == 9;
  run.ReadCounts();
  return run;
}

namespace {

using PackageCrash = PackageJobTest;
using ToolCrash = ToolJobTest;

TEST_F(PackageCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.at("play/bin/a.bin"), std::string(200000, 'a'));
  KillEverywhere(1, 3);
}

TEST_F(ToolCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.at("tools/cmake/share/modules.txt"), std::string(300000, 'm'));
  KillEverywhere(1, 3);
}

// A running program cannot be replaced here, only renamed: the update renames it aside and then
// renames the new one into its place, and the next run finishes a swap ended between the two.
class LauncherCrash : public LauncherJobTest {
 protected:
  LauncherCrash() { swap_in_two_renames = true; }
};

TEST_F(LauncherCrash, KilledAnywhereKeepsTheProgramAndTheNextRunFinishes) {
  RunReference(false);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.at("bin/HalvornLauncher"), kNewProgram);
  EXPECT_EQ(reference.at("bin/HalvornLauncher.old"), kOldProgram);
  EXPECT_EQ(reference.count("bin/HalvornLauncher.new"), 0u);
  KillEverywhere(1, 3);
}

// The music import, whose converters here are the toolchain's "ffmpeg" tool, installed from the
// test's server: a stand-in that converts a song of text lines (see tests/programs/fake_ffmpeg).
class MusicCrash : public CrashTest {
 protected:
  void SetUp() override {
    const std::string program = ReadFile(TestProgram("fake_ffmpeg"));
    ASSERT_FALSE(program.empty());
    WriteZip(scratch / "ffmpeg.zip", {{"bin/ffmpeg.exe", program, false, true, 0755},
                                      {"bin/ffprobe.exe", program, false, true, 0755}});
    server.ServeFile("/ffmpeg.zip", scratch / "ffmpeg.zip");
    server.Serve("/toolchain.json",
                 nlohmann::json{{"tools",
                                 {{{"id", "ffmpeg"},
                                   {"url", server.Url("/ffmpeg.zip")},
                                   {"sha256", Sha256File(scratch / "ffmpeg.zip")},
                                   {"size", fs::file_size(scratch / "ffmpeg.zip")}}}}}
                     .dump());
    game.toolchain = server.Url("/toolchain.json");
    WriteFile(scratch / "game.json", nlohmann::json{{"title", "Halvorn"},
                                                    {"short", "Halvorn"},
                                                    {"repo", "x"},
                                                    {"releases", {{"a", "b"}}},
                                                    {"toolchain", game.toolchain}}
                                         .dump());
    // Each song its own length and title, so that a song taken for another shows.
    Song("b.wav", 2);
    Song("c.wav", 3);
    Song("d.wav", 4);
    WriteFile(root / "play" / "hdd" / "E" / "save.dat", "the player's save");
    // An earlier import, whose songs this one keeps under new names: a song that sorts first
    // comes after it. It installs the converters too.
    MakeBuilder();
    std::string summary;
    std::string error;
    ASSERT_TRUE(builder->ImportMusic(music, summary, error)) << error;
    builder.reset();
    Song("a.wav", 1);
  }

  void Song(const std::string& name, int seconds) {
    WriteFile(music / name,
              "duration=" + std::to_string(seconds) + ".5\nTAG:TITLE=Song " + name + "\n");
  }

  std::vector<std::string> JobArgs() override { return {"music", PathToUtf8(music)}; }

  Files PlayerFiles(const fs::path& at) override {
    Files files = FilesUnder(music);
    files["save.dat"] = ReadFile(at / "play" / "hdd" / "E" / "save.dat");
    return files;
  }

  fs::path music = scratch / "Music";
};

TEST_F(MusicCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(WithoutCr(reference.at("play/hdd/E/TDATA/FFFE0000/MUSIC/0001/00010003.WMA")),
            "WMA of duration=4.5\nTAG:TITLE=Song d.wav\n");
  KillEverywhere(1, 3);
}

}  // namespace
}  // namespace launcher::test
