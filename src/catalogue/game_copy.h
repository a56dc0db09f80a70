// Identifying the player's copy of the game: a disc image or a folder, by the SHA-1 of its XBE.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/game_description.h"

namespace launcher {

struct GameCopy {
  bool ok = false;             // a supported release and, for a folder, complete
  bool is_disc_image = false;  // false for a folder
  std::string release;         // the matched release's label; empty unless ok
  std::string sha1;            // the XBE's SHA-1 (lowercase hex); empty when it was not read
  std::string message;         // one sentence for the player; empty when ok
  std::filesystem::path path;  // the disc image, or the folder holding the XBE (absolute)
};

// Never fails as a call: every problem ends in ok == false and a message for the player.
// Quick, and changes nothing on disk.
GameCopy IdentifyGameCopy(const GameDescription& game, const std::filesystem::path& chosen);

// The whole file `name` of the copy, from its disc image (looked up from the root in any letter
// case) or its folder (the exact name, else the first entry named so in any letter case).
bool ReadXbe(const std::string& name, const GameCopy& copy, std::vector<uint8_t>& bytes,
             std::string& error);

}  // namespace launcher
