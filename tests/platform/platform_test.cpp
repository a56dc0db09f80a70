// Platform through CreatePlatform, on the system being built: child processes with their output
// cut into lines, environment, working folder and cancellation; Windows Installer packages;
// folder and file links; starting the game; the environment.
#include "platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/archive_file.h"
#include "platform_fixture.h"
#include "support/cancelled_run.h"
#include "support/scratch.h"
#include "support/system_state.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::ReadFile;
using test::ScratchDir;
using test::ScopedEnv;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// Cancelling ends the whole tree about 100 ms after the flag is set (the watcher looks at it
// every 100 ms; scripts/bench-cancel.sh reports how soon). The tests' children sleep for 30 s,
// so a tree that is never stopped is far beyond this bound, which leaves room for a busy machine.
constexpr auto kCancelBound = std::chrono::milliseconds(5000);

long long MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::uint64_t ReadPid(const fs::path& file) {
  const std::string text = ReadFile(file);
  return text.empty() ? 0 : std::stoull(text);
}

// True when `message` is `text`, " (", a decimal code, ": ", the system's words (not ending in a
// space or a line break) and ")".
bool IsSystemErrorMessage(const std::string& message, const std::string& text) {
  if (message.rfind(text + " (", 0) != 0 || message.back() != ')') return false;
  const std::string rest = message.substr(text.size() + 2, message.size() - text.size() - 3);
  const std::size_t colon = rest.find(": ");
  if (colon == 0 || colon == std::string::npos) return false;
  if (rest.substr(0, colon).find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string words = rest.substr(colon + 2);
  return !words.empty() && words.find_first_of("\r\n") == std::string::npos && words.back() != ' ';
}

// --- output lines -----------------------------------------------------------------------------

TEST_F(PlatformTest, OutputIsCutAtEveryLineEndingWithoutEmptyLines) {
  struct Case {
    std::vector<std::string> commands;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{"out", "a\\r\\n\\r\\nb"}, {"a", "b"}},
      {{"out", "x"}, {"x"}},
      {{"out", "1\\r2\\n3\\r\\n\\n\\r4\\n"}, {"1", "2", "3", "4"}},
      {{"out", "\\n\\r\\n\\r"}, {}},
      {{"out", "  spaced  \\ttab\\n"}, {"  spaced  \ttab"}},
      {{"out", "caf\xC3\xA9 \xE2\x9C\x93\\n"}, {"caf\xC3\xA9 \xE2\x9C\x93"}},
      {{"out", "to stdout\\n", "err", "to stderr\\n", "out", "again"},
       {"to stdout", "to stderr", "again"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.commands));
    lines_.clear();
    EXPECT_EQ(RunChild(c.commands), 0);
    EXPECT_THAT(lines_, ElementsAreArray(c.lines));
  }
}

TEST_F(PlatformTest, LineLongerThanOneReadArrivesWhole) {
  // The first piece is written and flushed on its own, so it arrives in a read of its own and
  // the line goes on in the next read.
  EXPECT_EQ(RunChild({"fill", "4000", "a", "sleep", "100", "fill", "200", "b", "out", "\\n",
                      "fill", "10000", "z"}),
            0);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], std::string(4000, 'a') + std::string(200, 'b'));
  EXPECT_EQ(lines_[1], std::string(10000, 'z'));  // unfinished, far beyond one read
}

TEST_F(PlatformTest, LinesArriveAsTheChildWritesThem) {
  Clock::time_point first_arrived;
  const int code = platform_->Run(
      {child_, "out", "first\\n", "sleep", "1500", "out", "second\\n"}, {}, {},
      [&](const std::string& line) {
        if (line == "first") first_arrived = Clock::now();
        lines_.push_back(line);
      },
      nullptr);
  const Clock::time_point ended = Clock::now();
  EXPECT_EQ(code, 0);
  EXPECT_THAT(lines_, ElementsAre("first", "second"));
  // "first" came while the child slept, not with the rest at its end (a second of room for a
  // busy machine to deliver it late).
  EXPECT_GE(MillisecondsBetween(first_arrived, ended), 500);
}

TEST_F(PlatformTest, EmptySinkStillDrainsTheOutput) {
  // Far more than a pipe holds: a child whose output were not read would never end.
  EXPECT_EQ(platform_->Run({child_, "fill", "300000", "x", "err", "more", "exit", "3"}, {}, {},
                           LineSink(), nullptr),
            3);
}

TEST_F(PlatformTest, ReturnsTheChildsExitCode) {
  EXPECT_EQ(RunChild({"exit", "0"}), 0);
  EXPECT_EQ(RunChild({"exit", "7"}), 7);
  EXPECT_EQ(RunChild({"exit", "255"}), 255);
}

TEST_F(PlatformTest, ProgramThatCannotStartGivesOneLineAndMinusOne) {
  const std::string missing =
      PathToUtf8(scratch_ / ("no such program" + platform_->ExeSuffix()));
  EXPECT_EQ(platform_->Run({missing, "an argument"}, {}, {}, Collect(), nullptr), -1);
  ASSERT_EQ(lines_.size(), 1u);
  // The command line as the system would be given it, then the system's error in parentheses.
  const std::string command = "\"" + missing + "\" \"an argument\"";
  EXPECT_THAT(lines_[0], StartsWith("cannot start " + command + " ("));
  EXPECT_TRUE(IsSystemErrorMessage(lines_[0], "cannot start " + command)) << lines_[0];

  EXPECT_EQ(platform_->Run({missing}, {}, {}, LineSink(), nullptr), -1);
}

TEST_F(PlatformTest, ArgumentsReachTheChildUnchanged) {
  const std::vector<std::string> awkward = {
      "plain",          "with space",        "",
      "tab\there",      "say \"hi\"",        "a\"b",
      "ends in\\",      "C:\\Program Files\\", "two\\\\\"q",
      "\\\\server\\share\\", "trailing\\\\", "\xC3\xBCn\xC3\xAF c\xC3\xB8" "d\xC3\xA9 \xE2\x9C\x93"};
  std::vector<std::string> commands{"args"};
  commands.insert(commands.end(), awkward.begin(), awkward.end());
  EXPECT_EQ(RunChild(commands), 0);
  std::vector<std::string> expected;
  for (const std::string& arg : awkward) expected.push_back("[" + arg + "]");
  EXPECT_THAT(lines_, ElementsAreArray(expected));
}

// --- environment and working folder ------------------------------------------------------------

TEST_F(PlatformTest, EnvironmentOverridesComeOnTopOfTheLaunchersOwn) {
  ScopedEnv inherited("LAUNCHER_TEST_INHERITED", "kept");
  ScopedEnv replaced("LAUNCHER_TEST_REPLACED", "old");
  ScopedEnv emptied("LAUNCHER_TEST_EMPTIED", "old");
  const std::map<std::string, std::string> overrides = {
      {"LAUNCHER_TEST_REPLACED", "new"},
      {"LAUNCHER_TEST_EMPTIED", ""},
      {"LAUNCHER_TEST_ADDED", "n\xC3\xA4me \xE2\x9C\x93"},
  };
  EXPECT_EQ(RunChild({"env", "LAUNCHER_TEST_INHERITED", "env", "LAUNCHER_TEST_REPLACED", "env",
                      "LAUNCHER_TEST_EMPTIED", "env", "LAUNCHER_TEST_ADDED"},
                     {}, overrides),
            0);
  EXPECT_THAT(lines_, ElementsAre("LAUNCHER_TEST_INHERITED=kept", "LAUNCHER_TEST_REPLACED=new",
                                  "LAUNCHER_TEST_EMPTIED=",
                                  "LAUNCHER_TEST_ADDED=n\xC3\xA4me \xE2\x9C\x93"));
}

TEST_F(PlatformTest, ChildRunsInTheGivenFolderOrElseInTheCurrentOne) {
  const fs::path folder = scratch_ / fs::path(u8"f\u00f6lder \u2713");
  fs::create_directory(folder);
  EXPECT_EQ(RunChild({"cwd"}, folder), 0);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(lines_[0]), folder))
      << lines_[0];

  lines_.clear();
  EXPECT_EQ(RunChild({"cwd"}, fs::path()), 0);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(lines_[0]),
                             fs::current_path()))
      << lines_[0];
}

// --- cancellation and the process tree ---------------------------------------------------------

TEST_F(PlatformTest, CancelStopsAChildThatSleepsAndIgnoresItsInput) {
  const test::CancelledRun run = test::RunAndCancelWhenReady(
      *platform_, {child_, "out", "ready\\n", "sleep", "30000", "exit", "0"});
  EXPECT_EQ(run.code, -1);
  ASSERT_GE(run.milliseconds_after_flag, 0) << "the child never said it was ready";
  EXPECT_LT(run.milliseconds_after_flag, kCancelBound.count());
}

TEST_F(PlatformTest, CancelStopsTheGrandchildOfAChildThatHasEnded) {
  // The child starts a grandchild that keeps the output open and sleeps, then ends.
  const fs::path pid_file = scratch_ / "grandchild.pid";
  const test::CancelledRun run = test::RunAndCancelWhenReady(
      *platform_, {child_, "spawn", PathToUtf8(pid_file), "2", "sleep", "30000", "out", "ready\\n",
                   "exit", "0"});
  EXPECT_EQ(run.code, -1);
  ASSERT_GE(run.milliseconds_after_flag, 0) << "the child never said it was ready";
  EXPECT_LT(run.milliseconds_after_flag, kCancelBound.count());
  const std::uint64_t grandchild = ReadPid(pid_file);
  ASSERT_NE(grandchild, 0u);
  EXPECT_FALSE(test::IsProcessRunning(grandchild));
}

TEST_F(PlatformTest, GrandchildLeftRunningDiesWithTheRun) {
  // The grandchild lets go of the output at once and would sleep for 30 s; there is no cancel
  // flag, so only the end of the run can stop it.
  const fs::path pid_file = scratch_ / "grandchild.pid";
  const Clock::time_point started = Clock::now();
  EXPECT_EQ(RunChild({"spawn", PathToUtf8(pid_file), "3", "close-output", "sleep", "30000", "exit",
                      "5"}),
            5);
  EXPECT_LT(MillisecondsBetween(started, Clock::now()), 10000);
  const std::uint64_t grandchild = ReadPid(pid_file);
  ASSERT_NE(grandchild, 0u);
  EXPECT_FALSE(test::IsProcessRunning(grandchild));
}

TEST_F(PlatformTest, ReadingGoesOnWhileAGrandchildHoldsTheOutput) {
  const fs::path pid_file = scratch_ / "grandchild.pid";
  EXPECT_EQ(RunChild({"spawn", PathToUtf8(pid_file), "4", "sleep", "1000", "out", "late\\n", "out",
                      "early\\n", "exit", "0"}),
            0);
  EXPECT_THAT(lines_, ElementsAre("early", "late"));
}

TEST_F(PlatformTest, FlagSetAtTheEndGivesMinusOne) {
  std::atomic<bool> cancel{true};
  EXPECT_EQ(RunChild({"exit", "0"}, {}, {}, &cancel), -1);

  // Set by the last line, when the child is about to end of its own accord.
  cancel = false;
  const int code = platform_->Run({child_, "out", "last\\n", "exit", "0"}, {}, {},
                                  [&](const std::string&) { cancel = true; }, &cancel);
  EXPECT_EQ(code, -1);

  // A flag that stays clear changes nothing.
  cancel = false;
  EXPECT_EQ(RunChild({"exit", "4"}, {}, {}, &cancel), 4);
}

// --- Windows Installer packages ----------------------------------------------------------------

// Copies the test package (made with wixl and gcab when the tests are built) and its external
// cabinet into `folder`; returns the package's path.
fs::path CopyTestPackage(const fs::path& folder) {
  const fs::path fixtures = test::SelfPath().parent_path() / "fixtures" / "msi";
  fs::create_directories(folder);
  for (const char* name : {"test package.msi", "files.cab"}) {
    fs::copy_file(fixtures / name, folder / name, fs::copy_options::overwrite_existing);
  }
  return folder / "test package.msi";
}

TEST_F(PlatformTest, ExtractMsiUnpacksThePackageWithItsCabinet) {
  if (test::RunningUnderWine()) {
    // Wine's msiexec answers "Administrative installs are not currently supported", unpacks
    // nothing, and now and then never exits; the command line it gets is checked through a
    // stand-in msiexec in the Windows tests instead.
    GTEST_SKIP() << "Wine's msiexec does not do administrative installs";
  }
  const fs::path msi = CopyTestPackage(scratch_ / "downloads");
  fs::create_directory(scratch_ / "tools");
  const fs::path target = scratch_ / "tools" / "winsdk";
  std::string error;
  const bool extracted = platform_->ExtractMsi(msi, target, error);
  std::map<std::string, std::string> unpacked;  // file name -> content
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(target, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file()) unpacked[PathToUtf8(it->path().filename())] = ReadFile(it->path());
  }
  ASSERT_TRUE(extracted) << error;
  // The log lies beside the target folder, named after the package.
  EXPECT_TRUE(fs::is_regular_file(scratch_ / "tools" / "test package.msiexec.log"));
  EXPECT_EQ(unpacked, (std::map<std::string, std::string>{
                          {"hello.txt", "hello from the package\n"},
                          {"world.txt", "second file\n"}}));
}

TEST_F(PlatformTest, ExtractMsiOfAMissingPackageFailsNamingPackageCodeAndLog) {
  const fs::path msi = scratch_ / "downloads" / "missing.msi";
  fs::create_directory(scratch_ / "tools");
  const fs::path target = scratch_ / "tools" / "winsdk";
  std::string error;
  EXPECT_FALSE(platform_->ExtractMsi(msi, target, error));
  const fs::path log = scratch_ / "tools" / "missing.msiexec.log";
  // "Could not extract missing.msi (<tool> <code>, see <log>)"
  EXPECT_THAT(error, StartsWith("Could not extract missing.msi ("));
  EXPECT_THAT(error, ::testing::EndsWith(", see " + PathToUtf8(log) + ")"));
  const std::string inside = error.substr(31, error.size() - 31 - PathToUtf8(log).size() - 7);
  EXPECT_THAT(inside, ::testing::AnyOf(StartsWith("msiexec "), StartsWith("msiextract ")));
  const std::string code = inside.substr(inside.find(' ') + 1);
  EXPECT_FALSE(code.empty());
  EXPECT_EQ(code.find_first_not_of("-0123456789"), std::string::npos) << code;
}

// --- links, the game, the environment ----------------------------------------------------------

TEST_F(PlatformTest, LinkFolderMakesTheFolderVisibleUnderTheLink) {
  const fs::path target = scratch_ / fs::path(u8"game f\u00eeles");
  test::WriteFile(target / "sub" / "default.xbe", "xbe");
  const fs::path link = scratch_ / "play" / "assets";
  fs::create_directories(link.parent_path());
  std::string error;
  const bool linked = platform_->LinkFolder(link, target, error);
  if (!linked && test::RunningUnderWine()) {
    // Wine's cmd.exe ends "mklink /J" with exit code 0 and makes no junction, which LinkFolder
    // reports as a failure with what the command printed.
    EXPECT_THAT(error, StartsWith("Could not link the game's folder: "));
    EXPECT_THAT(error, ::testing::EndsWith("\n"));
    GTEST_SKIP() << "Wine makes no folder junctions: " << error;
  }
  ASSERT_TRUE(linked) << error;
  EXPECT_EQ(ReadFile(link / "sub" / "default.xbe"), "xbe");
  // The files are the target's, not copies.
  test::WriteFile(target / "later.txt", "later");
  EXPECT_EQ(ReadFile(link / "later.txt"), "later");
}

TEST_F(PlatformTest, LinkFolderFailureEndsWithALineFeed) {
  const fs::path target = scratch_ / "target";
  fs::create_directory(target);
  // The link's folder does not exist (on Windows the command cannot even start there).
  const fs::path link = scratch_ / "missing" / "assets";
  std::string error;
  EXPECT_FALSE(platform_->LinkFolder(link, target, error));
  const std::string prefix = "Could not link the game's folder: ";
  ASSERT_GT(error.size(), prefix.size() + 1) << error;
  EXPECT_THAT(error, StartsWith(prefix));
  EXPECT_EQ(error.back(), '\n');
  EXPECT_EQ(error.find('\n'), error.size() - 1) << "one line: " << error;
}

TEST_F(PlatformTest, HardLinkNamesTheSameFile) {
  const fs::path existing = scratch_ / "disc.iso";
  test::WriteFile(existing, "image");
  const fs::path link = scratch_ / "assets" / "disc.iso";
  fs::create_directories(link.parent_path());
  ASSERT_TRUE(platform_->HardLink(link, existing));
  EXPECT_EQ(ReadFile(link), "image");
  // One file under two names: what is written through one is read through the other.
  test::WriteFile(link, "changed");
  EXPECT_EQ(ReadFile(existing), "changed");

  EXPECT_FALSE(platform_->HardLink(link, existing)) << "the name is taken now";
  EXPECT_FALSE(platform_->HardLink(scratch_ / "other", scratch_ / "missing.iso"));
}

TEST_F(PlatformTest, StartGameReturnsWhileTheGameRuns) {
  const fs::path folder = scratch_ / "play";
  fs::create_directory(folder);
  std::string error;
  ASSERT_TRUE(platform_->StartGame(test::TestProgram("child"), folder, error)) << error;
  // The game, started without arguments, writes its working folder and waits for "stop", which
  // comes only now: StartGame did not wait for it.
  const fs::path started = folder / "started.txt";
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(20);
  while (ReadFile(started).empty() && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string where = ReadFile(started);
  test::WriteFile(folder / "stop", "");
  ASSERT_FALSE(where.empty()) << "the game did not start";
  // Let it end before its folder goes away.
  while (!fs::exists(folder / "ended.txt") && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(where), folder)) << where;
}

TEST_F(PlatformTest, StartGameOfAMissingProgramSaysWhy) {
  std::string error;
  EXPECT_FALSE(platform_->StartGame(scratch_ / ("missing" + platform_->ExeSuffix()),
                                    scratch_.path(), error));
  EXPECT_TRUE(IsSystemErrorMessage(error, "Could not start the game")) << error;
}

TEST_F(PlatformTest, GetEnvReadsEmptyAndUnsetVariablesAsEmpty) {
  ScopedEnv set("LAUNCHER_TEST_SET", "value \xE2\x9C\x93");
  ScopedEnv empty("LAUNCHER_TEST_EMPTY", "");
  ScopedEnv unset("LAUNCHER_TEST_UNSET", std::nullopt);
  EXPECT_EQ(platform_->GetEnv("LAUNCHER_TEST_SET"), "value \xE2\x9C\x93");
  EXPECT_EQ(platform_->GetEnv("LAUNCHER_TEST_EMPTY"), "");
  EXPECT_EQ(platform_->GetEnv("LAUNCHER_TEST_UNSET"), "");
}

TEST_F(PlatformTest, ExecutablesAndPathListFollowTheSystem) {
  // The test program's own name shows the system's executable ending.
  EXPECT_EQ(platform_->ExeSuffix(), test::SelfPath().extension().string());
  const std::string path = platform_->GetEnv("PATH");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(platform_->ExeSuffix().empty() ? ':' : ';', platform_->PathListSeparator());
}

}  // namespace
}  // namespace launcher
