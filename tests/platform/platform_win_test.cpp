// What Platform does on Windows beyond the portable tests: error texts from GetLastError, the
// case-insensitive and sorted environment, and msiexec's exit codes and command line (through a
// stand-in msiexec.exe, found in the current folder before the system's).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/process_win.h"
#include "platform_fixture.h"
#include "support/scratch.h"
#include "support/system_state.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

using WinPlatformTest = PlatformTest;

TEST_F(WinPlatformTest, LastErrorTextReadsTheSystemsMessage) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string text = LastErrorText("cannot open x");
  EXPECT_THAT(text, StartsWith("cannot open x (2: "));
  EXPECT_THAT(text, EndsWith(")"));
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text[text.size() - 2], ' ') << text;

  SetLastError(0x20001234);  // an application's own code: the system has no text for it
  EXPECT_EQ(LastErrorText("odd"), "odd (536875572)");
}

// A child is in its job from its first instruction, and runs: a launcher ended between starting
// it and putting it in the job would leave it outside, or suspended for good.
TEST_F(WinPlatformTest, AChildStartsInsideItsJobAndRuns) {
  for (const bool with_job : {true, false}) {
    SCOPED_TRACE(with_job ? "a job" : "no job");
    HANDLE job = with_job ? CreateJobObjectW(nullptr, nullptr) : nullptr;
    std::wstring command = L"\"" + test::TestProgram("child").wstring() + L"\" exit 7";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    bool in_job = !with_job;
    ASSERT_TRUE(CreateProcessInJob(nullptr, command.data(), false, CREATE_NO_WINDOW, nullptr,
                                   nullptr, startup, job, info, in_job));
    EXPECT_EQ(in_job, with_job);
    BOOL inside = FALSE;
    if (with_job) {
      ASSERT_TRUE(IsProcessInJob(info.hProcess, job, &inside));
      EXPECT_TRUE(inside);
    }
    ASSERT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    EXPECT_EQ(code, 7u);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (job != nullptr) CloseHandle(job);
  }
  std::wstring missing = L"\"" + (scratch_ / "missing.exe").wstring() + L"\"";
  PROCESS_INFORMATION info{};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  bool in_job = true;
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  EXPECT_FALSE(CreateProcessInJob(nullptr, missing.data(), false, 0, nullptr, nullptr, startup,
                                  job, info, in_job));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(in_job);
  CloseHandle(job);
}

TEST_F(WinPlatformTest, EnvironmentOverridesIgnoreCase) {
  test::ScopedEnv mixed("LauncherTestCase", "old");
  EXPECT_EQ(platform_->Run({child_, "env", "launchertestcase", "env", "path"}, {},
                           {{"LAUNCHERTESTCASE", "new"}, {"path", "C:\\only\\this"}}, Collect(),
                           nullptr),
            0);
  // One entry each, under the override's name: "Path" (or "PATH") was replaced, not joined.
  EXPECT_THAT(lines_, ElementsAre("LAUNCHERTESTCASE=new", "path=C:\\only\\this"));
}

TEST_F(WinPlatformTest, EnvironmentBlockIsSortedWithLettersFoldedToLowerCase) {
  EXPECT_EQ(platform_->Run({child_, "env-prefix", "LAUNCHER_SORT"}, {},
                           {{"LAUNCHER_SORTB", "4"},
                            {"launcher_sorta", "3"},
                            {"LAUNCHER_SORT_", "2"},
                            {"LAUNCHER_SORT", "1"}},
                           Collect(), nullptr),
            0);
  // "_" comes before the letters once they are folded to lower case; a prefix comes first.
  EXPECT_THAT(lines_, ElementsAre("LAUNCHER_SORT=1", "LAUNCHER_SORT_=2", "launcher_sorta=3",
                                  "LAUNCHER_SORTB=4"));
}

// Runs ExtractMsi with a stand-in msiexec.exe that records its arguments and ends with `code`.
class WinPlatformFakeMsiexecTest : public WinPlatformTest {
 protected:
  void SetUp() override {
    fs::copy_file(child_, scratch_ / "msiexec.exe");
    before_ = fs::current_path();
    fs::current_path(scratch_.path());
  }
  void TearDown() override { fs::current_path(before_); }

  bool Extract(const char* code, const fs::path& msi, const fs::path& target, std::string& error) {
    test::ScopedEnv exit_code("LAUNCHER_TEST_FAKE_EXIT", code);
    test::ScopedEnv record("LAUNCHER_TEST_FAKE_RECORD", PathToUtf8(record_));
    return platform_->ExtractMsi(msi, target, error);
  }

  fs::path before_;
  const fs::path record_ = scratch_ / "arguments.txt";
};

TEST_F(WinPlatformFakeMsiexecTest, CommandLineAndSuccessCodes) {
  const fs::path msi = scratch_ / "downloads" / "sdk headers.msi";
  fs::create_directories(msi.parent_path());
  const fs::path tools = scratch_ / "tools";
  const std::string target = PathToUtf8(tools / "winsdk");
  const std::string log = PathToUtf8(tools / "sdk headers.msiexec.log");
  for (const char* code : {"0", "3010"}) {
    SCOPED_TRACE(code);
    std::string error;
    // Trailing backslashes of the target are dropped from TARGETDIR and do not move the log.
    EXPECT_TRUE(Extract(code, msi, fs::path(target + "\\\\"), error)) << error;
    const std::string recorded = test::ReadFile(record_);
    if (recorded.empty()) {
      GTEST_SKIP() << "the system's own msiexec ran instead of the stand-in in the current folder";
    }
    EXPECT_EQ(recorded, "/a\n" + PathToUtf8(msi) + "\n/qn\n/norestart\nTARGETDIR=" + target +
                            "\n/L*v\n" + log + "\n");
  }
}

TEST_F(WinPlatformFakeMsiexecTest, OtherCodesFailNamingPackageCodeAndLog) {
  const fs::path msi = scratch_ / "downloads" / "sdk.msi";
  const fs::path tools = scratch_ / "tools";
  const std::string log = PathToUtf8(tools / "sdk.msiexec.log");
  std::string error;
  // msiexec runs in the package's folder: without that folder it cannot start at all.
  EXPECT_FALSE(Extract("0", msi, tools / "winsdk", error));
  EXPECT_EQ(error, "Could not extract sdk.msi (msiexec -1, see " + log + ")");

  fs::create_directories(msi.parent_path());
  for (const char* code : {"1603", "1", "3011"}) {
    EXPECT_FALSE(Extract(code, msi, tools / "winsdk", error));
    EXPECT_EQ(error, "Could not extract sdk.msi (msiexec " + std::string(code) + ", see " + log + ")");
  }
}

}  // namespace
}  // namespace launcher
