// QuoteArg and the command line that Platform::Run builds from an argument vector.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "quote_arg_cases.h"

namespace launcher {
namespace {

TEST(QuoteArg, QuotesOnlyWhatTheSplitterWouldCut) {
  for (const test::QuoteCase& c : test::QuoteCases()) {
    EXPECT_EQ(QuoteArg(c.arg), c.quoted) << WideToUtf8(c.arg);
  }
}

TEST(QuoteArg, CommandLineJoinsQuotedArgumentsWithSingleSpaces) {
  EXPECT_EQ(JoinCommandLine({}), L"");
  EXPECT_EQ(JoinCommandLine({"git"}), L"git");
  EXPECT_EQ(JoinCommandLine({"", "x"}), L"\"\" x");
  EXPECT_EQ(JoinCommandLine({"C:\\tools\\cmake.exe", "-S", "C:\\my game\\", "-DX=\"1\"", ""}),
            L"C:\\tools\\cmake.exe -S \"C:\\my game\\\\\" \"-DX=\\\"1\\\"\" \"\"");
  EXPECT_EQ(JoinCommandLine({"caf\xC3\xA9 \xE2\x9C\x93"}), L"\"caf\u00e9 \u2713\"");
}

}  // namespace
}  // namespace launcher
