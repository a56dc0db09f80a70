// The log writer with XBE_LOG_SYNC beginning with "1": the caller writes every line itself.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/log.h"
#include "support/stderr_capture.h"

namespace launcher {
namespace {

// Before main, so before the writer first reads the variable. Only the first character counts.
[[maybe_unused]] const bool g_sync_env = (putenv(const_cast<char*>("XBE_LOG_SYNC=1yes")), true);

TEST(LogSync, EveryLineIsOnStderrWhenLogPrintfReturns) {
  test::StderrCapture capture;
  LogPrintf(4, "normal %d", 1);
  EXPECT_NE(capture.Text().find("] normal 1\n"), std::string::npos);
  LogPrintf(3, "error %d", 2);
  EXPECT_NE(capture.Text().find("] error: error 2\n"), std::string::npos);
  LogPrintf(2, "dropped");
  EXPECT_EQ(capture.Text().find("dropped"), std::string::npos);
  EXPECT_FALSE(LogFlusherStarted());
}

}  // namespace
}  // namespace launcher
