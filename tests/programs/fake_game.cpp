// Stands in for the game's executable in the package tests.
//
// Run as "<exe> --prepare-code" in the staging folder, it follows a script of commands, one per
// line, read from "fake_game.txt" two folders above its working folder (the launcher's root
// when it runs in play/.next), so that a test can change what the game does between two runs
// of the same package. Without that file it runs the default script below.
//
//   say <text>    prints the text as one line (standard output)
//   dll           writes "<exe>.dll" beside the executable
//   record        appends its arguments and its working folder to "fake_game_runs.txt" beside
//                 the script
//   wait          sleeps until it is ended from outside (at most 60 seconds, then exit 9)
//   exit <code>   ends with that code
//
// At the end of the script it exits with 0.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* const kDefaultScript =
    "say progress 1 0 2 0 100\n"
    "say [0.1] loading the disc\n"
    "say [0.2] Game code: 2 functions\n"
    "say progress 1 2 2 100 100\n"
    "dll\n"
    "exit 0\n";

std::string ReadScript(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return kDefaultScript;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) != "--prepare-code") {
    std::printf("failed the fake game only prepares code\n");
    return 2;
  }
  const fs::path self = fs::absolute(argv[0]);
  const fs::path control = fs::current_path().parent_path().parent_path();
  std::istringstream script(ReadScript(control / "fake_game.txt"));
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string command = line.substr(0, line.find(' '));
    const std::string rest = line.size() > command.size() ? line.substr(command.size() + 1) : "";
    if (command == "say") {
      std::printf("%s\n", rest.c_str());
      std::fflush(stdout);
    } else if (command == "dll") {
      fs::path dll = self;
      dll.replace_extension(".dll");
      std::ofstream(dll, std::ios::binary) << "the game's library";
    } else if (command == "record") {
      std::ofstream runs(control / "fake_game_runs.txt", std::ios::binary | std::ios::app);
      runs << argv[0] << " " << argv[1] << " in " << fs::current_path().string() << "\n";
    } else if (command == "wait") {
      for (int i = 0; i < 1200; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return 9;
    } else if (command == "exit") {
      return std::atoi(rest.c_str());
    }
  }
  return 0;
}
