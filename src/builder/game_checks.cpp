// Quick questions about the game's place and starting the game.
#include "builder/builder.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// Microsoft's Windows SDK installer fails on longer paths than this, far below the system's own
// limit of 260.
constexpr size_t kMaxRootUnits = 80;

// The length of a UTF-8 text in UTF-16 code units: a character beyond U+FFFF takes two.
size_t Utf16Units(const std::string& text) {
  size_t units = 0;
  for (const wchar_t c : Utf8ToWide(text)) {
    units += static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
  }
  return units;
}

}  // namespace

bool Builder::PathTooLong(std::string& error) const {
  const std::string path = PathToUtf8(root);
  const size_t units = Utf16Units(path);
  if (units <= kMaxRootUnits) return false;
  error = "This folder's path is too long for Microsoft's Windows SDK installer (" +
          std::to_string(units) + " characters, at most " + std::to_string(kMaxRootUnits) +
          "): " + path + ". Move " + game.short_name +
          "Launcher.exe to a short folder, such as C:\\Games\\" + game.short_name +
          ", and run it from there.";
  return true;
}

bool Builder::StartGame(std::string& error) {
  return platform->StartGame(GameExe(), PlayFolder(), error);
}

}  // namespace launcher
