// Awkward arguments and how QuoteArg writes each for a Windows command line; shared by the
// portable table test and the Windows test against the system's own splitter.
#pragma once

#include <string>
#include <vector>

namespace launcher::test {

struct QuoteCase {
  std::wstring arg;
  std::wstring quoted;
};

inline const std::vector<QuoteCase>& QuoteCases() {
  static const std::vector<QuoteCase> cases = {
      {L"plain", L"plain"},
      {L"C:\\tools\\git\\cmd\\git.exe", L"C:\\tools\\git\\cmd\\git.exe"},
      {L"trailing\\\\", L"trailing\\\\"},
      {L"", L"\"\""},
      {L"with space", L"\"with space\""},
      {L"tab\there", L"\"tab\there\""},
      {L" ", L"\" \""},
      {L"ends in\\", L"\"ends in\\\\\""},
      {L"C:\\Program Files\\", L"\"C:\\Program Files\\\\\""},
      {L"C:\\Program Files\\\\\\", L"\"C:\\Program Files\\\\\\\\\\\\\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"\"", L"\"\\\"\""},
      {L"two\\\\\"q", L"\"two\\\\\\\\\\\"q\""},
      {L"\\\"", L"\"\\\\\\\"\""},
      {L"mid\\\\dle space", L"\"mid\\\\dle space\""},
      {L"-DCMAKE_C_FLAGS=/O2 /DNDEBUG", L"\"-DCMAKE_C_FLAGS=/O2 /DNDEBUG\""},
      {L"\u00fcn\u00ef c\u00f8d\u00e9 \u2713", L"\"\u00fcn\u00ef c\u00f8d\u00e9 \u2713\""},
  };
  return cases;
}

}  // namespace launcher::test
