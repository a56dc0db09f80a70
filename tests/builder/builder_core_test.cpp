// The Builder's log, progress reports, timed stages, timing summary and byte-size text.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST(BuilderFormatSizeTest, MegabytesBelowOneGibibyteGigabytesFromThere) {
  const struct {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 MB"},
      {1048576, "1 MB"},
      {1572864, "2 MB"},                // 1.5 MiB rounds as printf rounds
      {1073741823, "1024 MB"},          // just below the threshold
      {1073741824, "1.0 GB"},
      {5368709120, "5.0 GB"},
      {1610612736, "1.5 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST_F(BuilderTest, LogLineHasTimeStampInFileAndNoneInSink) {
  Builder& b = MakeBuilder();
  b.Log("stage package unpack: 38.4 s");
  const std::vector<std::string> file = TextLines(ReadFile(root / "launcher.log"));
  ASSERT_EQ(file.size(), 1u);
  EXPECT_TRUE(std::regex_match(file[0], std::regex(R"(\d\d:\d\d:\d\d stage package unpack: 38\.4 s)")))
      << file[0];
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "stage package unpack: 38.4 s");
}

TEST_F(BuilderTest, LogCreatesTheRootAndAppends) {
  root = scratch / "deep" / "er" / "Halvorn";
  Builder& b = MakeBuilder();
  b.Log("one");
  b.Log("");
  b.Log("three");
  EXPECT_EQ(LogFileLines(), (std::vector<std::string>{"one", "", "three"}));
}

TEST_F(BuilderTest, WithoutSinksLinesGoToTheFileAndReportsVanish) {
  Builder b(game, root, http.get(), &platform);
  b.Log("only in the file");
  b.Progress("Downloading", "1 MB of 2 MB", 0.5);
  EXPECT_EQ(LogFileLines(), std::vector<std::string>{"only in the file"});
}

TEST_F(BuilderTest, LogStillReachesTheSinkWhenTheFileCannotBeWritten) {
  // The root's place is taken by a file: neither the folder nor launcher.log can be made.
  WriteFile(root, "not a folder");
  Builder& b = MakeBuilder();
  b.Log("still shown");
  EXPECT_EQ(log, std::vector<std::string>{"still shown"});
  EXPECT_EQ(ReadFile(root), "not a folder");
}

TEST_F(BuilderTest, ProgressPassesTheValuesThroughUnchanged) {
  Builder& b = MakeBuilder();
  b.Progress("Downloading the game's package", "120 MB of 950 MB", 0.126);
  b.Progress("Looking", "", -1);
  b.Progress("Over", "x", 1.5);
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[0].title, "Downloading the game's package");
  EXPECT_EQ(statuses[0].detail, "120 MB of 950 MB");
  EXPECT_DOUBLE_EQ(statuses[0].fraction, 0.126);
  EXPECT_DOUBLE_EQ(statuses[1].fraction, -1);
  EXPECT_DOUBLE_EQ(statuses[2].fraction, 1.5);
}

TEST_F(BuilderTest, BannerNamesTheDateAndTheProcessorsAndEmptiesTheStages) {
  Builder& b = MakeBuilder();
  b.stage_times.push_back({"old", 1.0});
  b.LogBuildStart();
  EXPECT_TRUE(b.stage_times.empty());
  ASSERT_EQ(log.size(), 1u);
  const std::string expected = "build started \\d{4}-\\d\\d-\\d\\d, " +
                               std::to_string(std::thread::hardware_concurrency()) +
                               " logical processors";
  EXPECT_TRUE(std::regex_match(log[0], std::regex(expected))) << log[0];
}

TEST_F(BuilderTest, StageIsTimedLoggedAndKeptWhateverItReturns) {
  Builder& b = MakeBuilder();
  EXPECT_TRUE(b.RunStage("package download", [] {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    return true;
  }));
  EXPECT_FALSE(b.RunStage("compile game code", [] { return false; }));
  ASSERT_EQ(b.stage_times.size(), 2u);
  EXPECT_EQ(b.stage_times[0].name, "package download");
  EXPECT_GE(b.stage_times[0].seconds, 0.12);
  EXPECT_LT(b.stage_times[0].seconds, 60);
  EXPECT_EQ(b.stage_times[1].name, "compile game code");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex(R"(stage package download: \d+\.\d s)")))
      << log[0];
  EXPECT_EQ(log[1], "stage compile game code: 0.0 s (stopped)");

  b.LogTimings();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_TRUE(std::regex_match(log[2], std::regex(R"(timing: 2 stages, \d+\.\d s in all)")))
      << log[2];
  EXPECT_TRUE(std::regex_match(log[4], std::regex(R"(timing: +0\.0 s +0\.0%  compile game code)")))
      << log[4];
}

TEST_F(BuilderTest, TimingSummaryWithNoStageIsOneLine) {
  Builder& b = MakeBuilder();
  b.LogBuildStart();
  log.clear();
  b.LogTimings();
  EXPECT_EQ(log, std::vector<std::string>{"timing: 0 stages, 0.0 s in all"});
}

TEST_F(BuilderTest, TimingSummaryColumnsAndShares) {
  const struct {
    std::vector<StageTime> stages;
    std::vector<std::string> lines;
  } cases[] = {
      {{{"tool llvm", 12.34}, {"game source", 16.84}},
       {"timing: 2 stages, 29.2 s in all",
        "timing:      12.3 s  42.3%  tool llvm",
        "timing:      16.8 s  57.7%  game source"}},
      // Shares come from the exact total even when it prints as 0.0 s.
      {{{"a", 0.01}, {"b", 0.03}},
       {"timing: 2 stages, 0.0 s in all",
        "timing:       0.0 s  25.0%  a",
        "timing:       0.0 s  75.0%  b"}},
      {{{"a", 0}, {"b", 0}},
       {"timing: 2 stages, 0.0 s in all",
        "timing:       0.0 s   0.0%  a",
        "timing:       0.0 s   0.0%  b"}},
      {{{"one", 123456.78}},
       {"timing: 1 stages, 123456.8 s in all",
        "timing:  123456.8 s 100.0%  one"}},
  };
  for (const auto& c : cases) {
    log.clear();
    Builder& b = MakeBuilder();
    b.stage_times = c.stages;
    b.LogTimings();
    EXPECT_EQ(log, c.lines);
    EXPECT_EQ(b.stage_times.size(), c.stages.size());  // left as it was
  }
}

TEST_F(BuilderTest, TwoThreadsLoggingAtOnceGiveWholeLinesInOneOrder) {
  Builder& b = MakeBuilder();
  constexpr int kLines = 400;
  auto writer = [&b](const std::string& who) {
    for (int i = 0; i < kLines; ++i) b.Log(who + " line " + std::to_string(i) + std::string(50, '.'));
  };
  std::thread first(writer, "first");
  std::thread second(writer, "second");
  first.join();
  second.join();

  const std::vector<std::string> file = LogFileLines();
  ASSERT_EQ(file.size(), 2u * kLines);
  EXPECT_EQ(file, log);  // the same order in the file and on the Log page
  int next_first = 0;
  int next_second = 0;
  const std::regex whole(R"((first|second) line (\d+)\.{50})");
  for (const std::string& line : file) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
    int& next = match[1] == "first" ? next_first : next_second;
    EXPECT_EQ(std::stoi(match[2]), next);
    ++next;
  }
  for (const std::string& line : TextLines(ReadFile(root / "launcher.log"))) {
    ASSERT_TRUE(std::regex_match(line.substr(0, 9), std::regex(R"(\d\d:\d\d:\d\d )"))) << line;
  }
}

TEST_F(BuilderTest, TheLogSinkRunsWhileTheLogIsLocked) {
  Builder& b = MakeBuilder();
  std::vector<std::string> events;  // written only while the log mutex is held
  std::thread other;
  b.log_callback = [&](const std::string& line) {
    events.push_back(line + " begins");
    if (line == "first") {
      other = std::thread([&b] { b.Log("second"); });
      // Long enough for the other thread to reach the log; it must wait for this sink.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    events.push_back(line + " ends");
  };
  b.Log("first");
  other.join();
  EXPECT_EQ(events, (std::vector<std::string>{"first begins", "first ends", "second begins",
                                              "second ends"}));
}

TEST_F(BuilderTest, NewBuilderStartsEmpty) {
  Builder& b = MakeBuilder();
  EXPECT_FALSE(b.cancel);
  EXPECT_EQ(b.package_step, 0);
  EXPECT_TRUE(b.stage_times.empty());
  EXPECT_TRUE(b.builtin_toolchain.empty());
  Builder bare(game, root, http.get(), &platform);
  EXPECT_FALSE(bare.status_callback);
  EXPECT_FALSE(bare.log_callback);
}

TEST_F(BuilderTest, ABuildFromSourceRefusesALongRootOnlyWhenTheGameIsNotInPlace) {
  // A root of 81 characters below the scratch folder.
  const std::string base = PathToUtf8(scratch / "");
  ASSERT_LT(base.size(), 81u);
  root = PathFromUtf8(base + std::string(81 - base.size(), 'r'));
  Builder& b = MakeBuilder();
  b.cancel = true;  // left over from a stopped job
  std::string err;
  EXPECT_FALSE(b.BuildAll(err));
  EXPECT_EQ(err.rfind("This folder's path is too long", 0), 0u) << err;
  EXPECT_FALSE(b.cancel);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("build started ", 0), 0u);
  EXPECT_EQ(log[1], "timing: 0 stages, 0.0 s in all");
  EXPECT_EQ(log[2], "build stopped: " + err);

  // An update of a game in place goes ahead (and here stops at the missing tools list).
  WriteFile(root / "play" / Exe(), "the game");
  log.clear();
  EXPECT_FALSE(b.BuildAll(err));
  EXPECT_EQ(err.rfind("Could not download the list of build tools: ", 0), 0u) << err;
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("stage build tools list: ", 0), 0u) << log[1];
}

}  // namespace
}  // namespace launcher::test
