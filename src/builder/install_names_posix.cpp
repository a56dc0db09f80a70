// Elsewhere an executable has no suffix: the whole file name is the one listed.
#include "builder/install_names.h"

#include "platform/ascii.h"

namespace launcher {

bool IsGameExecutableName(const std::string& file_name, const std::vector<std::string>& exes) {
  const std::string lower = AsciiLower(file_name);
  for (const std::string& exe : exes) {
    if (AsciiLower(exe) == lower) return true;
  }
  return false;
}

}  // namespace launcher
