// Windows: an executable ends in ".exe"; the name before it is the one listed.
#include "builder/install_names.h"

#include "platform/ascii.h"

namespace launcher {

bool IsGameExecutableName(const std::string& file_name, const std::vector<std::string>& exes) {
  const std::string lower = AsciiLower(file_name);
  if (lower.size() <= 4 || !EndsWith(lower, ".exe")) return false;
  const std::string stem = lower.substr(0, lower.size() - 4);
  for (const std::string& exe : exes) {
    if (AsciiLower(exe) == stem) return true;
  }
  return false;
}

}  // namespace launcher
