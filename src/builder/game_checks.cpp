// Quick questions about the game's place, whether a new version of it is ready, and starting it.
#include "builder/builder.h"

#include <system_error>

#include "catalogue/release.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// Microsoft's Windows SDK installer fails on longer paths than this, far below the system's own
// limit of 260.
constexpr size_t kMaxRootUnits = 80;

// The length of a UTF-8 text in UTF-16 code units: a character beyond U+FFFF, the one that
// takes four bytes, takes two units; continuation bytes take none.
size_t Utf16Units(const std::string& text) {
  size_t units = 0;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0xF0) {
      units += 2;
    } else if ((byte & 0xC0) != 0x80) {
      units += 1;
    }
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

bool Builder::CheckGameUpdate(bool& update_ready, std::string& error) {
  update_ready = false;
  if (IsVersionTag(game.launcher_version)) {
    update_ready = IsGameInPlace() && BuiltVersion() != game.launcher_version;
    return true;
  }
  const fs::path source = root / "source";
  std::error_code ec;
  if (!fs::exists(source / ".git", ec)) return true;
  const std::string folder = PathToUtf8(source);
  std::string head;
  std::string remote;
  if (Git({"-C", folder, "fetch", "origin", game.branch}, nullptr, error) != 0 ||
      Git({"-C", folder, "rev-parse", "HEAD"}, &head, error) != 0 ||
      Git({"-C", folder, "rev-parse", "origin/" + game.branch}, &remote, error) != 0) {
    return false;
  }
  update_ready = head != remote;
  return true;
}

bool Builder::StartGame(std::string& error) {
  return platform->StartGame(GameExe(), PlayFolder(), error);
}

}  // namespace launcher
