#include "catalogue/game_copy.h"

#include <system_error>

#include "platform/ascii.h"
#include "platform/disc_image.h"
#include "platform/file_ops.h"
#include "platform/platform.h"
#include "platform/sha.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

// A folder must hold the XBE and at least this many entries in all to count as the disc's files.
constexpr int kMinFolderEntries = 3;

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);  // follows links and junctions
}

int CountEntries(const fs::path& folder) {
  std::error_code ec;
  int count = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

// The file `name` of the folder: exactly so, else the first entry named so in any letter case.
fs::path FindInFolder(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  const fs::path exact = folder / PathFromUtf8(name);
  if (fs::exists(exact, ec)) return exact;
  const std::string wanted = AsciiLower(name);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (AsciiLower(PathToUtf8(it->path().filename())) == wanted) return it->path();
  }
  return {};
}

bool ReadXbeFromDisc(const std::string& name, const GameCopy& copy, std::vector<uint8_t>& bytes,
                     std::string& error) {
  DiscImage image;
  if (!OpenDiscImage(image, Utf8ToWide(PathToUtf8(copy.path)), error)) return false;
  const DiscEntry* entry = FindDiscEntry(image, name);  // from the root, in any letter case
  if (entry == nullptr || entry->folder) {
    error = "the disc image has no " + name;
    return false;
  }
  if (!ReadDiscFile(image, name, bytes)) {
    bytes.clear();
    error = DiscEntryPastEnd(image, *entry) ? std::string(kDiscImageCutShort)
                                            : "cannot read " + name + " from the disc image";
    return false;
  }
  return true;
}

bool ReadXbeFromFolder(const std::string& name, const GameCopy& copy, std::vector<uint8_t>& bytes,
                       std::string& error) {
  std::string text;
  if (!ReadWholeFile(FindInFolder(copy.path, name), text)) {
    bytes.clear();
    error = "there is no " + name + " in " + PathToUtf8(copy.path);
    return false;
  }
  bytes.assign(text.begin(), text.end());
  return true;
}

// Classifies the chosen path; false (with the message set) when it is none of the three.
bool Classify(const GameDescription& game, const fs::path& chosen, GameCopy& copy) {
  std::error_code ec;
  const fs::path path = chosen.empty() ? fs::path() : fs::absolute(chosen, ec);
  if (!path.empty() && !ec) {
    if (IsFolder(path)) {
      copy.path = path;
      return true;
    }
    if (AsciiLower(PathToUtf8(path.extension())) == ".iso") {
      copy.is_disc_image = true;
      copy.path = path;
      return true;
    }
    if (AsciiLower(PathToUtf8(path.filename())) == AsciiLower(game.xbe)) {
      copy.path = path.parent_path();
      return true;
    }
  }
  copy.message = "Choose the game's disc image (.iso), or the folder with its files (" +
                 game.xbe + ").";
  return false;
}

}  // namespace

bool ReadXbe(const std::string& name, const GameCopy& copy, std::vector<uint8_t>& bytes,
             std::string& error) {
  return copy.is_disc_image ? ReadXbeFromDisc(name, copy, bytes, error)
                            : ReadXbeFromFolder(name, copy, bytes, error);
}

GameCopy IdentifyGameCopy(const GameDescription& game, const std::filesystem::path& chosen) {
  GameCopy copy;
  if (!Classify(game, chosen, copy)) return copy;

  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadXbe(game.xbe, copy, bytes, error)) {
    if (!copy.is_disc_image) {
      copy.message = error;
    } else if (error == kDiscImageCutShort) {
      // Most often a copy or download that did not finish: the image is the game, only short.
      copy.message =
          "This disc image of " + game.title + " is incomplete (" + error + "): copy it again.";
    } else {
      copy.message = "This is not an Xbox disc image of " + game.title + ": " + error;
    }
    return copy;
  }
  Sha1 sha1;
  sha1.Update(bytes.data(), bytes.size());
  copy.sha1 = sha1.FinalHex();

  const auto release = game.releases.find(copy.sha1);
  if (release == game.releases.end()) {
    copy.message = "This copy's " + game.xbe + " is not one this port supports (SHA-1 " +
                   copy.sha1 + "). It needs an unmodified disc of " + game.title + ".";
    return copy;
  }
  if (!copy.is_disc_image && CountEntries(copy.path) < kMinFolderEntries) {
    copy.message = "The folder holds " + game.xbe + " but not the rest of the disc's files.";
    return copy;
  }
  copy.release = release->second;
  copy.ok = true;
  return copy;
}

}  // namespace launcher
