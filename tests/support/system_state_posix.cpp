#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "support/system_state.h"

namespace launcher::test {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

std::optional<std::string> GetEnvValue(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool IsProcessRunning(std::uint64_t pid) {
  if (kill(pid_t(pid), 0) != 0) return false;
  // The state is the field after the command name, which is in parentheses and may hold spaces.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);  // no exception when the process goes away meanwhile
  const std::size_t end_of_name = text.rfind(')');
  if (end_of_name == std::string::npos || end_of_name + 2 >= text.size()) return false;
  const char state = text[end_of_name + 2];
  return state != 'Z' && state != 'X';
}

bool RunningUnderWine() { return false; }

}  // namespace launcher::test
