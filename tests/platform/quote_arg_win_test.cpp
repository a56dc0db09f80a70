// QuoteArg against the system's own command-line splitter.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "quote_arg_cases.h"

namespace launcher {
namespace {

std::vector<std::wstring> Split(const std::wstring& command_line) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(command_line.c_str(), &count);
  std::vector<std::wstring> result;
  if (args == nullptr) return result;
  result.assign(args, args + count);
  LocalFree(args);
  return result;
}

TEST(QuoteArgWindows, SplitterGivesEveryArgumentBackUnchanged) {
  std::wstring all = L"C:\\prog.exe";
  std::vector<std::wstring> expected = {L"C:\\prog.exe"};
  for (const test::QuoteCase& c : test::QuoteCases()) {
    // Alone, between two other arguments, so that a quote left open would show.
    const std::vector<std::wstring> one = Split(L"C:\\prog.exe " + QuoteArg(c.arg) + L" next");
    ASSERT_EQ(one.size(), 3u) << WideToUtf8(c.arg);
    EXPECT_EQ(one[1], c.arg) << WideToUtf8(c.arg);
    EXPECT_EQ(one[2], L"next") << WideToUtf8(c.arg);
    all += L" " + QuoteArg(c.arg);
    expected.push_back(c.arg);
  }
  EXPECT_EQ(Split(all), expected);
}

}  // namespace
}  // namespace launcher
