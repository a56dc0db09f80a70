// Making play/assets the player's chosen copy of the game, and finding the recorded copy again.
#include <fstream>
#include <system_error>
#include <vector>

#include "builder/builder.h"
#include "platform/ascii.h"
#include "platform/file_ops.h"
#include "platform/progress.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

bool IsDiscImageName(const fs::path& path) {
  return AsciiLower(PathToUtf8(path.extension())) == ".iso";
}

// Where a copy of the disc image is written until it is whole: beside it, under a name that is
// never taken for an image.
fs::path CopyTemporary(const fs::path& dest) {
  fs::path temporary = dest;
  temporary += ".tmp";
  return temporary;
}

// A temporary that a copy ended by a kill or a power cut left behind.
bool IsCopyTemporary(const fs::path& path) {
  const std::string lower = AsciiLower(PathToUtf8(path.filename()));
  return lower.size() > 8 && EndsWith(lower, ".iso.tmp");
}

// The copy of an image in play/assets is a whole one: the same size as the player's image,
// when that is still there to compare with (a hard link always is).
bool IsWholeCopy(const fs::path& copy, const fs::path& image) {
  std::error_code ec;
  if (!fs::is_regular_file(copy, ec)) return false;
  if (!fs::exists(image, ec)) return true;
  const uintmax_t copy_size = fs::file_size(copy, ec);
  if (ec) return false;
  const uintmax_t image_size = fs::file_size(image, ec);
  return !ec && copy_size == image_size;
}

}  // namespace

std::string CopyGoneMessage(const fs::path& path) {
  return "Your copy of the game is no longer at " + PathToUtf8(path) + ": choose it again.";
}

fs::path Builder::GamePath() const {
  const fs::path path = PathFromUtf8(SettingText("game"));
  if (path.empty()) return path;
  std::error_code ec;
  if (fs::exists(path, ec)) return path;
  // A disc image the player has since moved or deleted may still have its copy in play/assets.
  if (IsDiscImageName(path)) {
    const fs::path copy = PlayFolder() / "assets" / path.filename();
    if (fs::exists(copy, ec) && !fs::is_directory(copy, ec)) return copy;
  }
  return path;
}

void Builder::RemoveOtherDiscImages(const fs::path& assets, const fs::path& keep) {
  for (const fs::path& entry : ListFolder(assets)) {
    if (!IsDiscImageName(entry) && !IsCopyTemporary(entry)) continue;
    std::error_code ec;
    if (!keep.empty() && fs::equivalent(entry, keep, ec)) continue;
    std::string error;
    RemoveEntry(entry, error);
  }
}

bool Builder::ChooseGame(const GameCopy& copy, std::string& error) {
  // A flag left set by an earlier stopped job must not end this copy: the choice is a new
  // operation the player started.
  cancel.exchange(false);
  return PlaceGame(copy, error);
}

bool Builder::ChooseGameWithoutCopying(const GameCopy& copy, bool& copy_needed,
                                       std::string& error) {
  cancel.exchange(false);
  copy_needed = false;
  return PlaceGame(copy, error, &copy_needed);
}

bool Builder::CopyChosenGame(const GameCopy& copy, std::string& error) {
  // The whole placement once more: it finds the way cleared and the hard link still refused in
  // no time, and copes with a play/assets that is not as the first try left it.
  return PlaceGame(copy, error);
}

void Builder::RemoveCopyLeftovers() {
  const fs::path assets = PlayFolder() / "assets";
  std::error_code ec;
  // Through a link the entries are the player's own files.
  if (IsLink(assets) || !fs::is_directory(assets, ec)) return;
  for (const fs::path& entry : ListFolder(assets)) {
    std::string ignored;
    if (IsCopyTemporary(entry)) RemoveEntry(entry, ignored);
  }
}

bool Builder::PlaceGame(const GameCopy& copy, std::string& error, bool* copy_needed) {
  std::error_code ec;
  fs::create_directories(PlayFolder(), ec);
  const fs::path assets = PlayFolder() / "assets";
  const fs::path target = copy.is_disc_image ? copy.path.parent_path() : copy.path;

  bool in_place = false;
  if (fs::is_directory(assets, ec) && fs::equivalent(assets, target, ec)) {
    if (!copy.is_disc_image) {
      in_place = true;
    } else if (!IsLink(assets)) {
      RemoveOtherDiscImages(assets, copy.path);
      in_place = true;
    }
  }

  if (!in_place) {
    if (EntryExists(assets)) {
      std::string why;
      // Only a real folder is emptied of its disc images: through a link they would be the
      // player's own files.
      if (!RemoveEntry(assets, why) && !IsLink(assets)) {
        RemoveOtherDiscImages(assets, {});
        RemoveEntry(assets, why);
      }
    }
    if (EntryExists(assets)) {
      error = "Cannot replace " + PathToUtf8(assets) +
              ": remove it by hand and choose the game again.";
      return false;
    }
    if (!copy.is_disc_image) {
      if (!platform->LinkFolder(assets, copy.path, error)) return false;
    } else {
      fs::create_directories(assets, ec);
      const fs::path dest = assets / copy.path.filename();
      if (!platform->HardLink(dest, copy.path)) {
        if (copy_needed != nullptr) {
          *copy_needed = true;
          return true;
        }
        if (!CopyDiscImage(copy.path, dest, error)) return false;
      }
    }
  }

  const std::string path = PathToUtf8(copy.path);
  SetSetting("game", path);
  SetSetting("game_sha1", copy.sha1);
  Log("game: " + path + (in_place ? " (in place), " : ", ") + copy.release + ", sha1 " +
      copy.sha1);
  return true;
}

bool Builder::IsGameInAssets(const fs::path& path) const {
  std::error_code ec;
  const fs::path assets = PlayFolder() / "assets";
  // A copy cut short (an older launcher wrote straight under the image's name) does not count.
  return IsDiscImageName(path) ? IsWholeCopy(assets / path.filename(), path)
                               : fs::is_directory(assets, ec) && fs::equivalent(assets, path, ec);
}

bool Builder::GameInAssets() const {
  const fs::path path = GamePath();
  return !path.empty() && IsGameInAssets(path);
}

bool Builder::RelinkGame(std::string& error) {
  const fs::path path = GamePath();
  if (path.empty() || IsGameInAssets(path)) return true;
  std::error_code ec;
  const fs::path assets = PlayFolder() / "assets";
  if (!fs::exists(path, ec)) {
    error = CopyGoneMessage(path);
    return false;
  }
  Log("the game's copy is no longer in " + PathToUtf8(assets) + ": choosing it again");
  const GameCopy copy = IdentifyGameCopy(game, path);
  if (!copy.ok) {
    error = copy.message;
    return false;
  }
  return PlaceGame(copy, error);
}

bool Builder::CopyDiscImage(const fs::path& source, const fs::path& dest, std::string& error) {
  Log("copying " + PathToUtf8(source) + " to " + PathToUtf8(dest));
  // Written beside the image's name and renamed into place only when whole and on the disk, so
  // that a copy ended halfway is never taken for the image.
  const fs::path temporary = CopyTemporary(dest);
  std::error_code ec;
  const uintmax_t size = fs::file_size(source, ec);
  // An unknown size can never be reached, so such a copy ends as failed.
  const uint64_t total = ec ? UINT64_MAX : static_cast<uint64_t>(size);
  uint64_t done = 0;
  bool ok = false;
  {
    std::ifstream in(source, std::ios::binary);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    constexpr size_t kBlock = 8388608;
    std::vector<char> buffer(kBlock);
    while (in && out) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const std::streamsize got = in.gcount();
      out.write(buffer.data(), got);
      done += static_cast<uint64_t>(got);
      Progress("Copying the disc image", FormatSize(done) + " of " + FormatSize(total),
               total == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(total));
      if (cancel) break;
    }
    out.close();
    ok = !out.fail() && done == total;
  }
  std::string ignored;
  if (ok && FlushToDisk(temporary) && MoveReplacing(temporary, dest, ignored)) return true;
  RemoveEntry(temporary, ignored);
  error = cancel ? kCancelled : "Could not copy the disc image (is the drive full?)";
  return false;
}

}  // namespace launcher
