#include "builder/git_progress.h"

#include <string_view>

#include "builder/leading_number.h"

namespace launcher {

bool ReadGitProgress(const std::string& line, std::string& detail, double& fraction) {
  const size_t percent = line.find('%');
  if (percent == std::string::npos || percent < 2) return false;
  const size_t space = line.rfind(' ', percent);
  const size_t start = space == std::string::npos ? 0 : space + 1;
  // What follows the number (the "%" among it) is not read.
  double number = 0;
  if (!ReadLeadingNumber(std::string_view(line).substr(start, percent - start), number)) {
    number = 0;
  }
  detail = line.substr(0, line.find(':'));
  fraction = number / 100;
  return true;
}

}  // namespace launcher
