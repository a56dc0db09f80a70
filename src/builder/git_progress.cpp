#include "builder/git_progress.h"

#include <charconv>

namespace launcher {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool ReadGitProgress(const std::string& line, std::string& detail, double& fraction) {
  const size_t percent = line.find('%');
  if (percent == std::string::npos || percent < 2) return false;
  const size_t space = line.rfind(' ', percent);
  size_t start = space == std::string::npos ? 0 : space + 1;
  while (start < percent && (line[start] == ' ' || line[start] == '\t')) ++start;
  // The longest decimal number at `start`; what follows it (the "%" among it) is not read.
  // Only digits, a point and a leading minus count, so "inf" and "nan" read as no number.
  const size_t digits = start < line.size() && line[start] == '-' ? start + 1 : start;
  double number = 0;
  if (digits < line.size() && (IsDigit(line[digits]) || line[digits] == '.')) {
    const char* first = line.data() + start;
    if (std::from_chars(first, line.data() + line.size(), number, std::chars_format::fixed).ec !=
        std::errc()) {
      number = 0;
    }
  }
  detail = line.substr(0, line.find(':'));
  fraction = number / 100;
  return true;
}

}  // namespace launcher
