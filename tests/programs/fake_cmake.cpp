// Stands in for CMake where the real one cannot run (under Wine), or where a test needs to see
// what CMake was asked. Every run appends its program path and arguments, one line, to the file
// named by LAUNCHER_TEST_FAKE_RECORD.
//
//   --preset release ...    makes out/build/release/CMakeCache.txt and writes what the
//                           environment held to out/build/release/environment.txt; a cache
//                           it did not write (cut short, say) makes it fail, as CMake does
//   --build <folder>        prints two "[n/m]" steps and makes <folder>/Halvorn, Halvorn.dll and
//                           Tool (with this program's own executable suffix)
// A command whose first argument is the value of LAUNCHER_TEST_FAKE_REFUSE prints "stand-in
// refuses <argument>" and ends with exit code 3.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {
namespace fs = std::filesystem;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

int CMake(const std::vector<std::string>& args, const std::string& suffix) {
  if (!args.empty() && args[0] == Env("LAUNCHER_TEST_FAKE_REFUSE")) {
    Say("stand-in refuses " + args[0]);
    return 3;
  }
  if (!args.empty() && args[0] == "--preset") {
    const fs::path build = fs::path("out") / "build" / "release";
    const std::string cache_line = "CMAKE_GENERATOR:INTERNAL=Ninja\n";
    std::string cache(cache_line.size(), '\0');
    std::ifstream kept(build / "CMakeCache.txt", std::ios::binary);
    if (kept && (!kept.read(cache.data(), std::streamsize(cache.size())) || cache != cache_line)) {
      Say("CMake Error: Parse error in cache file CMakeCache.txt");
      return 1;
    }
    kept.close();
    fs::create_directories(build);
    std::ofstream(build / "CMakeCache.txt", std::ios::binary) << cache_line;
    std::ofstream env(build / "environment.txt", std::ios::binary);
    for (const char* name :
         {"PATH", "INCLUDE", "LIB", "VCToolsInstallDir", "WindowsSdkDir", "WindowsSDKVersion",
          "GIT_CONFIG_COUNT", "GIT_CONFIG_KEY_0", "GIT_CONFIG_VALUE_0"}) {
      env << name << "=" << Env(name) << "\n";
    }
    Say("-- Configuring done");
    return 0;
  }
  if (args.size() == 2 && args[0] == "--build") {
    const fs::path build = launcher::PathFromUtf8(args[1]);
    Say("[1/2] Building CXX object game.cpp.obj");
    Say("[2/2] Linking CXX executable Halvorn" + suffix);
    std::ofstream(build / ("Halvorn" + suffix), std::ios::binary) << "the game";
    std::ofstream(build / "Halvorn.dll", std::ios::binary) << "the game's library";
    std::ofstream(build / ("Tool" + suffix), std::ios::binary) << "a tool";
    return 0;
  }
  Say("fake cmake: unknown arguments");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path self = launcher::PathFromUtf8(argv[0]);
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::string record = Env("LAUNCHER_TEST_FAKE_RECORD");
  if (!record.empty()) {
    std::ofstream out(launcher::PathFromUtf8(record), std::ios::binary | std::ios::app);
    out << argv[0];
    for (const std::string& arg : args) out << " " << arg;
    out << "\n";
  }
  return CMake(args, launcher::PathToUtf8(self.extension()));
}
