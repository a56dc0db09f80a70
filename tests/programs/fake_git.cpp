// Stands in for git in the Builder's tests, where the real one cannot run (under Wine) or where
// a test needs to see exactly what git was asked and given.
//
// In its working folder it
//   - appends its arguments, joined with '|', as one line to "git_calls.txt";
//   - writes the variables of the build environment it received to "git_env.txt", one
//     "NAME=value" line each (unset ones left out);
//   - exits with 128 when "git_fail.txt" holds one of its arguments, before anything else below.
// For "clone" it makes "<last argument>/.git". It prints a few of git's progress lines: two
// ending in a carriage return and one in a line feed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  {
    std::ofstream calls("git_calls.txt", std::ios::binary | std::ios::app);
    for (size_t i = 0; i < args.size(); ++i) calls << (i ? "|" : "") << args[i];
    calls << '\n';
  }
  {
    std::ofstream env("git_env.txt", std::ios::binary | std::ios::trunc);
    for (const char* name :
         {"PATH", "GIT_CONFIG_COUNT", "GIT_CONFIG_KEY_0", "GIT_CONFIG_VALUE_0", "INCLUDE", "LIB",
          "VCToolsInstallDir", "WindowsSdkDir", "WindowsSDKVersion"}) {
      if (const char* value = std::getenv(name)) env << name << '=' << value << '\n';
    }
  }
  std::ifstream fail("git_fail.txt", std::ios::binary);
  std::string fail_word;
  if (fail && std::getline(fail, fail_word)) {
    for (const std::string& arg : args) {
      if (arg == fail_word) {
        std::printf("fatal: %s failed on purpose\n", fail_word.c_str());
        return 128;
      }
    }
  }
  if (!args.empty() && args[0] == "clone") {
    std::error_code ec;
    fs::create_directories(fs::path(args.back()) / ".git", ec);
  }
  std::printf("remote: Counting objects:  10%% (1/10)\r");
  std::printf("Receiving objects:  50%% (1/2)\r");
  std::printf("Receiving objects: 100%% (2/2), done.\n");
  std::fflush(stdout);
  return 0;
}
