// The game description: everything the launcher knows about the one game it serves.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

struct GameDescription {
  std::string title;
  std::string short_name;
  std::string exe;
  std::string xbe;
  std::map<std::string, std::string> releases;  // XBE SHA-1 (lowercase) -> release label
  std::string repo;
  std::string branch;
  std::string launcher_version = "dev";
  std::string toolchain;
  std::string package;
  std::map<std::string, std::string> packages;  // XBE SHA-1 (lowercase) -> package asset name
  bool music = false;
  std::vector<std::string> xbes;
  std::vector<std::string> exes;
  std::map<std::string, std::vector<std::string>> release_xbes;
};

// Fills `game` from a game.json text; false with one sentence in `error` when the text is not
// a valid game description.
bool ParseGameDescription(std::string_view json, GameDescription& game, std::string& error);

}  // namespace launcher
