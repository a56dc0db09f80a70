// The swap of a package install: the staged entries of play/.next take the places of their
// namesakes in the play folder, whole, whatever moment the launcher is ended at.
//
// Each namesake first moves into play/.aside and the staged entry then moves into its place,
// two renames, so that every entry is at every moment wholly in one of three places: staged
// (the old one still in play/), between (the old one aside, the new one still staged) or moved
// (the new one in play/, the old one aside). play/.aside therefore marks a swap that has begun:
// while it is there and anything is left to move, the play folder is a mix of two versions. The
// Builder's constructor carries such a swap forward to the new version (the staging folder
// holds a prepared package whenever .aside is there), and a package install carries forward
// what the constructor could not. A swap that cannot finish puts everything back, so that the
// old version is whole again and the staging folder keeps its stamp for the next attempt.
#include <algorithm>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "platform/ascii.h"
#include "platform/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

const char kStamp[] = "package.stamp";

// Staged entries that never move: the player's logs and settings files, anything named as one
// of the player's folders (moving such a folder aside would delete it with .aside), and the
// launcher's own folders.
bool StaysBehind(const fs::path& entry) {
  const std::string lower = AsciiLower(PathToUtf8(entry.filename()));
  if (lower.size() >= 6 && EndsWith(lower, ".toml")) return true;
  for (const char* name : {"logs", "hdd", "assets", "screenshots", "captures", ".aside", ".next"}) {
    if (lower == name) return true;
  }
  return false;
}

// The names of the entries of `next` that move: the stamp first, so that the staging folder
// loses it as soon as it is no longer whole (and gets it back last when a swap is undone), then
// the others in name order. The listing is taken whole first: moving entries out of a folder
// while reading it may make the reading skip some.
std::vector<fs::path> MovableEntries(const fs::path& next) {
  std::vector<fs::path> names;
  std::error_code ec;
  for (fs::directory_iterator it(next, ec), end; !ec && it != end; it.increment(ec)) {
    if (!StaysBehind(it->path())) names.push_back(it->path().filename());
  }
  std::sort(names.begin(), names.end(), [](const fs::path& a, const fs::path& b) {
    if ((a == kStamp) != (b == kStamp)) return a == kStamp;
    return a < b;
  });
  return names;
}

std::string CouldNotPut(const std::string& name, const std::string& why,
                        const std::string& button) {
  return "Could not put " + name +
         " in place (is the game still running, or an antivirus scanning it?): " + why +
         ". Press " + button + " to retry; see launcher.log";
}

}  // namespace

fs::path Builder::AsideFolder() const { return PlayFolder() / ".aside"; }

bool Builder::SwapUnfinished() const {
  return EntryExists(AsideFolder()) && !MovableEntries(PlayFolder() / ".next").empty();
}

bool Builder::Patiently(const std::string& name, int tries,
                        const std::function<bool(std::string&)>& step, std::string& err) {
  for (int attempt = 1;; ++attempt) {
    std::string why;
    if (step(why)) return true;
    Log("replace: " + name + ", try " + std::to_string(attempt) + ": " + why);
    if (attempt >= tries || cancel) {
      err = CouldNotPut(name, why, retry_button);
      return false;
    }
    Progress("Putting the new version in place", "Waiting for Windows to let go of " + name, -1);
    std::this_thread::sleep_for(replace_retry.wait);
  }
}

bool Builder::SwapEntry(const fs::path& next, const fs::path& name, std::string& why) {
  const fs::path target = PlayFolder() / name;
  const fs::path aside = AsideFolder() / name;
  std::error_code ec;
  fs::create_directory(AsideFolder(), ec);
  if (ec) {
    why = ec.message();
    return false;
  }
  if (EntryExists(target)) {
    // With the old one aside already, what stands in its place is neither the old version nor
    // the staged one (something written there since an ended swap): it gives way.
    const bool moved = EntryExists(aside) ? RemoveTree(target, why)
                                          : MoveReplacing(target, aside, why);
    if (!moved) return false;
  }
  return MoveReplacing(next / name, target, why);
}

bool Builder::UnswapEntry(const fs::path& next, const fs::path& name, std::string& why) {
  const fs::path target = PlayFolder() / name;
  const fs::path aside = AsideFolder() / name;
  if (!EntryExists(next / name) && EntryExists(target) &&
      !MoveReplacing(target, next / name, why)) {
    return false;
  }
  return !EntryExists(aside) || MoveReplacing(aside, target, why);
}

bool Builder::ClearAside(int tries, std::string& err) {
  const fs::path aside = AsideFolder();
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(aside, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  for (const fs::path& entry : entries) {
    const auto remove = [&](std::string& why) { return RemoveTree(entry, why); };
    if (!Patiently(PathToUtf8(entry.filename()), tries, remove, err)) return false;
  }
  const auto remove = [&](std::string& why) { return RemoveTree(aside, why); };
  return Patiently(PathToUtf8(aside.filename()), tries, remove, err);
}

bool Builder::FinishSwap(const fs::path& next, int tries, std::string& err) {
  if (!EntryExists(AsideFolder())) return true;
  for (const fs::path& name : MovableEntries(next)) {
    const auto swap = [&](std::string& why) { return SwapEntry(next, name, why); };
    if (!Patiently(PathToUtf8(name), tries, swap, err)) return false;
  }
  return ClearAside(tries, err);
}

void Builder::MendUnfinishedSwap() {
  // At start-up, on the main thread: one try for each move, no waiting. What cannot move now
  // stays as it is (IsGameInPlace says no) for the next package install to finish.
  std::string ignored;
  FinishSwap(PlayFolder() / ".next", 1, ignored);
}

bool Builder::ReplaceGame(const fs::path& next, std::string& err) {
  // An earlier swap is finished first, so that .aside holds only what this one moves aside.
  if (!FinishSwap(next, replace_retry.tries, err)) return false;
  const std::vector<fs::path> names = MovableEntries(next);
  for (size_t moved = 0; moved < names.size(); ++moved) {
    const auto swap = [&](std::string& why) { return SwapEntry(next, names[moved], why); };
    if (Patiently(PathToUtf8(names[moved]), replace_retry.tries, swap, err)) continue;
    // Everything goes back, the entry that failed first (its old one may be aside already),
    // so that the old version is whole and the staging folder holds the package and its stamp
    // again. A move back that fails leaves a swap begun, which the next start carries forward.
    for (size_t back = moved + 1; back-- > 0;) {
      std::string why;
      if (!UnswapEntry(next, names[back], why)) {
        Log("replace: " + PathToUtf8(names[back]) + " could not go back: " + why);
        return false;
      }
    }
    std::string ignored;
    RemoveEntry(AsideFolder(), ignored);
    return false;
  }
  // The new version is whole; what the old one left aside goes when it can (a file of it that
  // is still open waits for the next start or install).
  std::string ignored;
  ClearAside(1, ignored);
  return true;
}

}  // namespace launcher
