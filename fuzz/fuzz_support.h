// Helpers the fuzz targets share: a check that stops the run with a sentence, a scratch folder
// per process, and the test of what an unpacker left on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/builtin_texts.h"
#include "catalogue/game_description.h"
#include "support/scratch.h"

namespace launcher::fuzz {

// Stops the run, so libFuzzer keeps the input, when a promise of the code does not hold.
inline void Check(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

// The input cut at its NUL bytes into `count` texts: the last takes the rest, NULs included;
// missing texts are empty. Inputs of several documents are written so.
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> parts;
  const char* text = reinterpret_cast<const char*>(data);
  size_t at = 0;
  while (parts.size() + 1 < count) {
    size_t end = at;
    while (end < size && text[end] != '\0') ++end;
    parts.emplace_back(text + at, end - at);
    at = end < size ? end + 1 : end;
  }
  parts.emplace_back(text + at, size - at);
  return parts;
}

// The game description built into the program, parsed once.
inline const GameDescription& BuiltInGame() {
  static const GameDescription game = [] {
    GameDescription built_in;
    std::string error;
    Check(ParseGameDescription(BuiltInGameJson(), built_in, error), "the built-in game.json");
    return built_in;
  }();
  return game;
}

// A folder under the system's temporary folder for this process, removed at exit.
inline const std::filesystem::path& ScratchRoot() {
  static const test::ScratchDir scratch;
  return scratch.path();
}

// An empty folder `name` under the scratch root (emptied when it is there).
inline std::filesystem::path FreshFolder(const std::string& name) {
  const std::filesystem::path folder = ScratchRoot() / name;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::create_directories(folder, ec);
  Check(!ec, "cannot make " + folder.string());
  return folder;
}

// Everything an unpack into `root`/"out" left must be a plain file or folder under
// `root`/"out": nothing beside it in `root`, and no link anywhere.
inline void CheckOnlyInside(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    Check(it->path().filename() == "out", "the unpack wrote " + it->path().string() +
                                              ", outside its destination");
  }
  if (!fs::exists(root / "out", ec)) return;  // nothing was written
  for (auto it = fs::recursive_directory_iterator(root / "out", ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    Check(fs::is_regular_file(status) || fs::is_directory(status),
          "the unpack made " + it->path().string() + ", which is neither a file nor a folder");
  }
  Check(!ec, "cannot list " + root.string() + ": " + ec.message());
}

}  // namespace launcher::fuzz
