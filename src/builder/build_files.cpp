// What the build leaves behind: the build files of the current road and, in package mode, the
// old build tools of the build-from-source road; their sizes and their removal.
#include <system_error>

#include "builder/builder.h"
#include "platform/file_ops.h"
#include "platform/ascii.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The size of one listed path: a plain file's own size, or what lies beneath a folder or a link.
uint64_t ListedSize(const fs::path& path) {
  std::error_code ec;
  if (IsLink(path) || fs::is_directory(fs::symlink_status(path, ec))) return SizeBeneath(path);
  const uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

fs::path Builder::BuildFilesFolder() const {
  return PackageMode() ? PlayFolder() / "compiler" / "work" : root / "source" / "out";
}

bool Builder::BuiltOldWay() const {
  if (!PackageMode()) return false;
  std::error_code ec;
  return fs::exists(GameExe(), ec) &&
         !fs::exists(PlayFolder() / PathFromUtf8(game.exe + ".dll"), ec);
}

std::vector<fs::path> Builder::ListTools() const {
  std::vector<fs::path> list;
  if (!PackageMode()) return list;
  std::error_code ec;
  for (fs::directory_iterator it(root / "tools", ec), end; !ec && it != end; it.increment(ec)) {
    // The music converter is not a build tool: the music import still uses it.
    if (AsciiLower(PathToUtf8(it->path().filename())) == "ffmpeg") continue;
    list.push_back(it->path());
  }
  for (const char* name : {"source", "downloads", "agreed.txt"}) {
    if (EntryExists(root / name)) list.push_back(root / name);
  }
  return list;
}

uint64_t Builder::ToolsSize() const {
  uint64_t total = 0;
  for (const fs::path& path : ListTools()) total += ListedSize(path);
  return total;
}

bool Builder::RemoveTools(std::string& error) {
  for (const fs::path& path : ListTools()) {
    std::string why;
    if (!RemoveTree(path, why)) {
      error = "Could not remove " + PathToUtf8(path) + ": " + why;
      return false;
    }
    Log("removed " + PathToUtf8(path));
  }
  return true;
}

uint64_t Builder::BuildFilesSize() const {
  return SizeBeneath(BuildFilesFolder());
}

bool Builder::RemoveBuildFiles(std::string& error) {
  std::string why;
  if (!RemoveTree(BuildFilesFolder(), why)) {
    error = "Could not remove the build files: " + why;
    return false;
  }
  return true;
}

}  // namespace launcher
