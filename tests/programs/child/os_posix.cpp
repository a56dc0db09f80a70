#include <spawn.h>
#include <unistd.h>

#include "os.h"

extern char** environ;

namespace child {

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::vector<std::string> Environment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

void UseBinaryOutput() {}

std::uint64_t StartSelf(const std::vector<std::string>& args) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<std::string> texts = args;
  std::vector<char*> argv{self.data()};
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return std::uint64_t(pid);
}

void CloseOutput() {
  close(STDOUT_FILENO);
  close(STDERR_FILENO);
}

void NewSession() { setsid(); }

}  // namespace child
