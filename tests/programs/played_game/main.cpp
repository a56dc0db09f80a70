// Stands in for the game the launcher starts at launch (no arguments, its folder as working
// folder). It appends what it does to "played.txt" in its working folder:
//   "first started"; then, when "second-process" exists there, it starts a second copy of
//   itself ("second started") and exits with 7 at once ("first exiting"); otherwise exits 0.
//   The second copy waits until "release-second" appears (at most 60 s), writes "second ended"
//   and exits 0.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "spawn.h"

namespace fs = std::filesystem;

namespace {

void Note(const std::string& line) {
  std::ofstream out("played.txt", std::ios::app | std::ios::binary);
  out << line << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "second") {
    Note("second started");
    for (int i = 0; i < 3000 && !fs::exists("release-second"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Note("second ended");
    return 0;
  }
  Note("first started");
  if (!fs::exists("second-process")) {
    return 0;
  }
  if (!played_game::StartSecond(argv[0])) {
    Note("second did not start");
    return 1;
  }
  Note("first exiting");
  return 7;
}
