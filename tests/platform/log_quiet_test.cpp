// Lines below level 3 are dropped without starting anything. A program of its own, so that no
// other test has started the flusher before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/log.h"
#include "support/stderr_capture.h"

namespace launcher {
namespace {

[[maybe_unused]] const bool g_async_env = (putenv(const_cast<char*>("XBE_LOG_SYNC=")), true);

TEST(LogQuiet, LevelsBelowThreeWriteNothingAndStartNoThread) {
  test::StderrCapture capture;
  for (int level : {-1, 0, 1, 2}) LogPrintf(level, "quiet %d", level);
  LogFlush();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past a flusher tick
  EXPECT_EQ(capture.Text(), "");
  EXPECT_FALSE(LogFlusherStarted());

  LogPrintf(4, "loud");  // the first line that counts starts it
  EXPECT_TRUE(LogFlusherStarted());
  EXPECT_NE(capture.WaitFor("loud\n").find("] loud\n"), std::string::npos);
}

}  // namespace
}  // namespace launcher
