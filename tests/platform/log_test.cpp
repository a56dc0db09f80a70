// The log writer in its usual, asynchronous mode (XBE_LOG_SYNC set to a value that does not
// begin with "1").
#include "platform/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/scratch.h"
#include "support/stderr_capture.h"

namespace launcher {
namespace {

// Before main, so before the writer first reads the variable.
[[maybe_unused]] const bool g_async_env = (putenv(const_cast<char*>("XBE_LOG_SYNC=0")), true);

using test::StderrCapture;

// "[" + seconds right-aligned in nine characters with three decimals + "] ".
const std::regex kStamp(R"(\[ *[0-9]+\.[0-9]{3}\] )");

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Log, NormalLineHasStampMessageAndLineFeed) {
  StderrCapture capture;
  LogPrintf(4, "disc: %s %d %llu", "value", -7, 123456789012ull);
  EXPECT_TRUE(LogFlusherStarted());  // the first line of level 3 or more starts the flusher
  const std::string text = capture.WaitFor("value -7 123456789012\n");
  const size_t at = text.find("disc: value");
  ASSERT_NE(at, std::string::npos) << text;
  ASSERT_GE(at, 12u);
  const std::string line = text.substr(at - 12, text.find('\n', at) + 1 - (at - 12));
  EXPECT_EQ(line.size(), 12 + std::string("disc: value -7 123456789012\n").size()) << line;
  EXPECT_EQ(line[0], '[');
  EXPECT_EQ(line[10], ']');
  EXPECT_EQ(line[11], ' ');
  EXPECT_TRUE(std::regex_match(line.substr(0, 12), kStamp)) << line;
  EXPECT_EQ(line.find("error: "), std::string::npos);
}

TEST(Log, LevelFiveAndAboveAreNormalLines) {
  StderrCapture capture;
  LogPrintf(5, "level five");
  LogPrintf(1000, "level thousand");
  const std::string text = capture.WaitFor("level thousand\n");
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\] level five\n)"))) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\] level thousand\n)"))) << text;
}

TEST(Log, ErrorLineHasErrorPrefix) {
  StderrCapture capture;
  LogPrintf(3, "broken %u", 5u);
  const std::string text = capture.WaitFor("broken 5\n");
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\[ *[0-9]+\.[0-9]{3}\] error: broken 5\n)")))
      << text;
}

// Normal lines wait for the flusher's 250 ms tick; an error line wakes it at once. Each try
// first waits for a tick to pass (a normal line appears), then times the error line, so a
// writer without the wake-up needs about 250 ms and one with it about nothing.
TEST(Log, ErrorLineIsWrittenWithoutWaitingForTheTick) {
  StderrCapture capture;
  auto best = std::chrono::milliseconds::max();
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string tick = "tick " + std::to_string(attempt) + "\n";
    const std::string urgent = "urgent " + std::to_string(attempt) + "\n";
    LogPrintf(4, "tick %d", attempt);
    ASSERT_NE(capture.WaitFor(tick).find(tick), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    LogPrintf(3, "urgent %d", attempt);
    ASSERT_NE(capture.WaitFor(urgent).find(urgent), std::string::npos);
    best = std::min(best, std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start));
  }
  EXPECT_LT(best.count(), 150) << "the error line waited for the tick";
}

TEST(Log, ErrorLineCarriesThePendingLinesWithIt) {
  StderrCapture capture;
  LogPrintf(4, "before the error");
  LogPrintf(3, "the error");
  const std::string text = capture.WaitFor("the error\n");
  const size_t before = text.find("before the error\n");
  ASSERT_NE(before, std::string::npos) << text;
  EXPECT_LT(before, text.find("error: the error\n"));
}

TEST(Log, LongMessageIsCutTo4095Bytes) {
  for (int level : {3, 4}) {
    SCOPED_TRACE(level);
    StderrCapture capture;
    const std::string long_text(6000, 'x');
    LogPrintf(level, "%s", long_text.c_str());
    LogPrintf(level, "after");  // shows the cut line ended and the next one began
    const std::string text = capture.WaitFor("] " + std::string(level == 3 ? "error: " : "") +
                                             "after\n");
    const std::string expected =
        "] " + std::string(level == 3 ? "error: " : "") + std::string(4095, 'x') + "\n[";
    EXPECT_NE(text.find(expected), std::string::npos);
    EXPECT_EQ(text.find(std::string(4096, 'x')), std::string::npos);
  }
}

// Lines from many threads at once are never torn or lost.
TEST(Log, LinesFromManyThreadsStayWhole) {
  StderrCapture capture;
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) LogPrintf(i % 50 == 0 ? 3 : 4, "thread %d line %d end", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  LogPrintf(3, "all threads done");
  const std::string text = capture.WaitFor("all threads done\n");
  const std::regex line_form(R"(\[ *[0-9]+\.[0-9]{3}\] (error: )?thread ([0-9]) line ([0-9]+) end)");
  std::vector<std::vector<bool>> seen(kThreads, std::vector<bool>(kLines, false));
  int count = 0;
  for (const std::string& line : Lines(text)) {
    if (line.find("thread ") == std::string::npos) continue;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, line_form)) << line;
    const int t = std::stoi(match[2]), i = std::stoi(match[3]);
    EXPECT_EQ(match[1].matched, i % 50 == 0) << line;
    EXPECT_FALSE(seen[t][i]) << line;
    seen[t][i] = true;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST(Log, FlushWritesPendingLinesAtOnce) {
  StderrCapture capture;
  LogPrintf(4, "flushed by hand");
  LogFlush();
  EXPECT_NE(capture.Text().find("flushed by hand\n"), std::string::npos);
  LogPrintf(4, "flushed again");
  FlushLog();
  EXPECT_NE(capture.Text().find("flushed again\n"), std::string::npos);
}

TEST(Log, OpenFileReceivesLinesAndRotates) {
  test::ScratchDir dir;
  for (int n = 1; n <= 5; ++n) test::WriteFile(LogRotatedPath(dir.path(), "run", n), "old " + std::to_string(n));
  test::WriteFile(dir / "run.log", "current");
  EXPECT_EQ(LogRotatedPath(dir.path(), "run", 3), dir / "run.3.log");

  StderrCapture capture;
  ASSERT_TRUE(LogOpen(dir.path(), "run", true));
  EXPECT_EQ(LogPath(), dir / "run.log");
  EXPECT_EQ(test::ReadFile(dir / "run.1.log"), "current");
  EXPECT_EQ(test::ReadFile(dir / "run.2.log"), "old 1");
  EXPECT_EQ(test::ReadFile(dir / "run.5.log"), "old 4");  // the oldest, "old 5", is gone
  EXPECT_EQ(test::ReadFile(dir / "run.log"), "");

  LogPrintf(4, "into the file");
  LogFlush();
  EXPECT_NE(test::ReadFile(dir / "run.log").find("into the file\n"), std::string::npos);
  EXPECT_NE(capture.Text().find("into the file\n"), std::string::npos);  // still on stderr

  // Without rotation the file is appended to.
  ASSERT_TRUE(LogOpen(dir.path(), "run", false));
  LogPrintf(4, "appended");
  LogFlush();
  const std::string log = test::ReadFile(dir / "run.log");
  EXPECT_LT(log.find("into the file\n"), log.find("appended\n"));
  EXPECT_NE(log.find("appended\n"), std::string::npos);

  EXPECT_FALSE(LogOpen(dir / "missing-folder", "run", false));
  EXPECT_EQ(LogPath(), std::filesystem::path());
}

}  // namespace
}  // namespace launcher
