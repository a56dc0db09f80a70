#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/silent_names.h"

namespace launcher::test {

std::string ShellPathOf(const std::string& path) { return path; }

bool StartShellCommand(const std::vector<std::string>& args, bool& ended, std::string&) {
  CreatePlatform()->Run(args, {}, {}, nullptr, nullptr);
  ended = true;
  return true;
}

}  // namespace launcher::test
