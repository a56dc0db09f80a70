// The long jobs ended with TerminateProcess, as the task manager ends the launcher, after each of
// their log lines, right after each rename or removal they make, and at seeded random moments:
// the player's own files stay exactly as they were, and running the job again gives what a run
// that was never ended gives, with nothing staged left behind.
//
// The job runs in the job driver (tests/programs/job_driver), against this test's HTTP server;
// the driver ends itself where its environment says. Each attempt starts from a copy of one
// prepared root.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/crash_fixture.h"
#include "builder/stand_in_build_fixture.h"
#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "platform/sha.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/system_state.h"
#include "support/zip_writer.h"

namespace launcher::test {

namespace {

// A kernel handle, closed when it goes.
struct OwnedHandle {
  explicit OwnedHandle(HANDLE h) : handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~OwnedHandle() {
    if (handle != nullptr) CloseHandle(handle);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE handle;
};

// A file for the driver's output that goes when its last handle is closed, opened for the
// driver to inherit.
HANDLE OutputFile() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  if (GetTempFileNameW(folder, L"drv", 0, name) == 0) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

}  // namespace

// Here the driver runs in a job object of the test's own, its output going to a file: when the
// driver has ended, whatever it started and left (a converter, or a child it was still starting
// when it was killed, which holds the driver's handles) is ended with the job, so that nothing
// of this run writes into the next and nothing keeps the test waiting. `kill_after` is the
// driver's own timer, started with its job.
DriverRun RunDriver(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env,
                    std::chrono::microseconds kill_after) {
  std::map<std::string, std::string> driver_env = env;
  if (kill_after != std::chrono::microseconds::max()) {
    driver_env["JOB_DRIVER_KILL_AFTER_US"] =
        std::to_string(std::max<long long>(kill_after.count(), 1));
  }
  std::vector<std::unique_ptr<ScopedEnv>> scoped_env;
  for (const auto& [name, value] : driver_env)
    scoped_env.push_back(std::make_unique<ScopedEnv>(name, value));
  std::vector<std::string> command = {PathToUtf8(TestProgram("job_driver"))};
  command.insert(command.end(), args.begin(), args.end());
  std::wstring command_line = JoinCommandLine(command);

  DriverRun run;
  const OwnedHandle output(OutputFile());
  const OwnedHandle job(CreateJobObjectW(nullptr, nullptr));
  EXPECT_NE(output.handle, nullptr);
  EXPECT_NE(job.handle, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.handle;
  startup.hStdError = output.handle;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start the job driver";
    return run;
  }
  const OwnedHandle driver(process.hProcess);
  EXPECT_TRUE(AssignProcessToJobObject(job.handle, driver.handle));
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(driver.handle, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(driver.handle, &code);
  TerminateJobObject(job.handle, 9);

  std::string text;
  SetFilePointer(output.handle, 0, nullptr, FILE_BEGIN);
  char buffer[4096];
  for (DWORD got = 0; ::ReadFile(output.handle, buffer, sizeof buffer, &got, nullptr) && got > 0;)
    text.append(buffer, got);
  run.lines = TextLines(text);
  run.exit_code = int(code);
  // TerminateProcess(..., 9) is the driver's own end; a job ends with 0 or 1.
  run.killed = code == 9;
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

// Fewer small files than on Linux: every run of the driver starts a program under Wine.
class SwapCrash : public SwapJobTest {
 protected:
  SwapCrash() : SwapJobTest(8) {}
};

TEST_F(SwapCrash, KilledAnywhereTheNextStartLeavesOneWholeVersionAndTheNextRunFinishes) {
  RunNewVersion();
  ASSERT_FALSE(HasFatalFailure());
  KillEverywhere(1, 2);
  EXPECT_GT(mended, 0);
}

TEST_F(SwapCrash, KilledWhileTheStartFinishesASwapTheNextStartFinishesIt) {
  RunNewVersion();
  ASSERT_FALSE(HasFatalFailure());
  KillTheStartAtEveryChange();
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
  ExpectTheNewProgramInPlace();
  KillEverywhere(1, 3);
}

// The music import, whose converters here are the toolchain's "ffmpeg" tool, installed from the
// test's server: a stand-in that converts a song of text lines (see tests/programs/fake_ffmpeg).
class MusicCrash : public MusicJobTest {
 protected:
  void ServeConverter() override {
    const std::string program = ReadFile(TestProgram("fake_ffmpeg"));
    ASSERT_FALSE(program.empty());
    const fs::path zip = scratch / "ffmpeg.zip";
    WriteZip(zip, {{"bin/ffmpeg.exe", program, false, true, 0755},
                   {"bin/ffprobe.exe", program, false, true, 0755}});
    server.ServeFile("/ffmpeg.zip", zip);
    server.Serve("/toolchain.json", nlohmann::json{{"tools",
                                                    {{{"id", "ffmpeg"},
                                                      {"url", server.Url("/ffmpeg.zip")},
                                                      {"sha256", Sha256File(zip)},
                                                      {"size", fs::file_size(zip)}}}}}
                                        .dump());
    game.toolchain = server.Url("/toolchain.json");
  }

  void AddSong(int song) override {
    WriteFile(music / SongName(song),
              "duration=" + std::to_string(song) + ".5\nTAG:TITLE=Song " + SongName(song) + "\n");
  }
};

TEST_F(MusicCrash, KilledAnywhereLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(WithoutCr(reference.at("play/hdd/E/TDATA/FFFE0000/MUSIC/0001/00010003.WMA")),
            "WMA of duration=4.5\nTAG:TITLE=Song d.wav\n");
  KillEverywhere(1, 3);
}

// The build from source, with the toolchain's stand-in git and cmake. The Windows SDK is
// installed beforehand with the stand-in administrative install of the test's Platform (the
// driver's is the system's own), and the build finds its stamp and keeps it.
class SdkInstalledBuildTest : public BuildAllStandInTest {
 protected:
  void SetUp() override {
    BuildAllStandInTest::SetUp();
    if (HasFatalFailure()) return;
    Toolchain toolchain;
    std::string error;
    ASSERT_TRUE(builder->LoadToolchain(toolchain, error, true)) << error;
    for (const Tool& tool : toolchain.tools) {
      if (tool.id == "winsdk") {
        ASSERT_TRUE(builder->InstallTool(tool, error)) << error;
      }
    }
    ASSERT_TRUE(fs::exists(Tools() / "winsdk" / ".launcher-stamp"));
  }
};

using SourceBuildCrash = SourceBuildCrashTest<SdkInstalledBuildTest>;

TEST_F(SourceBuildCrash, KilledAfterAnyStageOrAtRandomTheNextRunBuildsTheSameGame) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(reference.count("play/Halvorn.exe"), 1u);
  ASSERT_EQ(reference.count("tools/cmake/.launcher-stamp"), 1u);
  KillAfterEveryStageAndAtRandom(AllStages(), 3);
}

}  // namespace
}  // namespace launcher::test
