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
//
// What reaches the disk, in order: the staged files before the first move (a power cut after a
// rename must not find the new names on files whose data was never written), then, after the
// last move, the play folder's own entries, then "built" in launcher.json (the version the
// staging folder names, which never moves and so can be read at every moment of the swap), and
// only then is the old version removed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "builder/system_words.h"
#include "platform/ascii.h"
#include "platform/file_ops.h"
#include "platform/progress.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

const char kStamp[] = "package.stamp";
const char kVersionFile[] = ".launcher-version";
const char kOldAsidePrefix[] = ".aside-";

// A name (lower-case) of the kind a swap gives what it could not remove: ".aside-" and digits.
bool IsOldAsideName(const std::string& lower) {
  const size_t prefix = sizeof kOldAsidePrefix - 1;
  if (lower.size() <= prefix || lower.compare(0, prefix, kOldAsidePrefix) != 0) return false;
  return std::all_of(lower.begin() + prefix, lower.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Staged entries that never move: the player's logs and settings files, anything named as one
// of the player's folders (moving such a folder aside would delete it with .aside), and the
// launcher's own folders and files.
bool StaysBehind(const fs::path& entry) {
  const std::string lower = AsciiLower(PathToUtf8(entry.filename()));
  if (lower.size() >= 6 && EndsWith(lower, ".toml")) return true;
  for (const char* name : {"logs", "hdd", "assets", "screenshots", "captures", ".aside", ".next",
                           kVersionFile}) {
    if (lower == name) return true;
  }
  return IsOldAsideName(lower);
}

// The names of the entries of `next` that move: the stamp first, so that the staging folder
// loses it as soon as it is no longer whole (and gets it back last when a swap is undone), then
// the others in name order.
std::vector<fs::path> MovableEntries(const fs::path& next) {
  std::vector<fs::path> names;
  for (const fs::path& entry : ListFolder(next)) {
    if (!StaysBehind(entry)) names.push_back(entry.filename());
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

// Moves what is left in the folder `from` into the folder `to`, made for it: each entry whole
// where the system lets it move, else, for a folder, what it holds, one by one. Windows does not
// rename a folder that holds a running program, but it renames the program itself.
void MoveLeftovers(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const fs::path& entry : ListFolder(from)) {
    std::string ignored;
    if (MoveReplacing(entry, to / entry.filename(), ignored)) continue;
    if (!IsLink(entry) && fs::is_directory(entry, ec)) {
      MoveLeftovers(entry, to / entry.filename());
      RemoveEntry(entry, ignored);
    }
  }
}

// `path` below `folder` as the player reads it.
std::string Below(const fs::path& folder, const fs::path& path) {
  return PathToUtf8(path.lexically_relative(folder));
}

// Waits `wait`, or less when the player stops.
void WaitUnlessStopped(std::chrono::milliseconds wait, const std::atomic<bool>& cancel) {
  const auto end = std::chrono::steady_clock::now() + wait;
  for (auto now = std::chrono::steady_clock::now(); !cancel && now < end;
       now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - now, std::chrono::milliseconds(20)));
  }
}

}  // namespace

fs::path Builder::AsideFolder() const { return PlayFolder() / ".aside"; }

bool Builder::SwapUnfinished() const {
  return EntryExists(AsideFolder()) && !MovableEntries(PlayFolder() / ".next").empty();
}

void Builder::StageVersion(const fs::path& next) {
  if (!StampEquals(next / kVersionFile, game.launcher_version)) {
    WriteWholeFile(next / kVersionFile, game.launcher_version);
  }
}

std::string Builder::StagedVersion(const fs::path& next) const {
  std::string version;
  if (!ReadWholeFile(next / kVersionFile, version) || version.size() > 64) return "";
  // Only what the launcher writes there: a version tag or a branch's name.
  for (const char c : version) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "";
  }
  return version;
}

SwapHold Builder::HeldSwap() const {
  std::lock_guard<std::mutex> lock(hold_mutex);
  return hold;
}

void Builder::KeepHold(const fs::path& next, const std::string& entry) {
  SwapHold kept;
  if (!entry.empty()) kept = {StagedVersion(next), entry};
  std::lock_guard<std::mutex> lock(hold_mutex);
  hold = kept;
}

bool Builder::Patiently(const std::string& name, int tries,
                        const std::function<bool(std::string&)>& step, std::string& err) {
  for (int attempt = 1;; ++attempt) {
    std::string why;
    if (step(why)) return true;
    Log("replace: " + name + ", try " + std::to_string(attempt) + ": " + why);
    if (!cancel && attempt < tries) {
      Progress("Putting the new version in place",
               "Waiting for " + HoldingSystem() + " to let go of " + name, -1);
      WaitUnlessStopped(replace_retry.wait, cancel);
    }
    if (cancel) {
      err = kCancelled;
      return false;
    }
    if (attempt >= tries) {
      err = CouldNotPut(name, why, retry_button);
      return false;
    }
  }
}

void Builder::Flush(const std::function<bool(const fs::path&, std::string&)>& step,
                    const fs::path& path) {
  if (!step) return;
  const auto start = std::chrono::steady_clock::now();
  std::string why;
  if (!step(path, why)) Log("replace: could not flush " + PathToUtf8(path) + " to the disk: " + why);
  flush_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

bool Builder::ClearAside(std::string& err) {
  const fs::path aside = AsideFolder();
  fs::path failed;
  std::string why;
  if (RemoveTree(aside, why, &failed)) return true;
  Log("Could not remove the old version's " + Below(aside, failed) + ": " + why);
  // What is left goes under a name of its own, which no swap takes for one in progress.
  fs::path kept;
  for (int n = 2; n < 1000 && (kept.empty() || EntryExists(kept)); ++n) {
    kept = PlayFolder() / (kOldAsidePrefix + std::to_string(n));
  }
  std::string ignored;
  if (!MoveReplacing(aside, kept, ignored)) {
    MoveLeftovers(aside, kept);
    RemoveEntry(aside, ignored);
  }
  if (!EntryExists(aside)) return true;
  // The next swap would take what is left for its own.
  err = "Could not remove the old version's " + Below(aside, failed) +
        " (is the game still running, or an antivirus scanning it?): " + why + ". Press " +
        retry_button + " to retry; see launcher.log";
  return false;
}

void Builder::RemoveOldAsides() {
  for (const fs::path& entry : ListFolder(PlayFolder())) {
    if (!IsOldAsideName(AsciiLower(PathToUtf8(entry.filename())))) continue;
    fs::path failed;
    std::string why;
    if (!RemoveTree(entry, why, &failed)) {
      Log("Could not remove the old version's " + Below(entry, failed) + ": " + why);
    }
  }
}

bool Builder::CompleteSwap(const fs::path& next, std::string& err) {
  Flush(disk_flush.folder, PlayFolder());
  const std::string version = StagedVersion(next);
  if (!version.empty()) SetSetting("built", version);
  KeepHold(next, "");
  return ClearAside(err);
}

bool Builder::FinishSwap(const fs::path& next, int tries, std::string& err,
                         std::string& finished) {
  finished.clear();
  if (!EntryExists(AsideFolder())) return true;
  // The staged files went to the disk before the swap's first move.
  for (const fs::path& name : MovableEntries(next)) {
    const auto swap = [&](std::string& why) { return SwapEntry(next, name, why); };
    if (!Patiently(PathToUtf8(name), tries, swap, err)) {
      KeepHold(next, PathToUtf8(name));
      return false;
    }
  }
  if (!CompleteSwap(next, err)) return false;
  finished = StagedVersion(next);
  if (!finished.empty()) {
    Log("the update to " + finished + " that was ended during its swap is finished");
  }
  return true;
}

void Builder::MendUnfinishedSwap() {
  // At start-up, on the main thread: one try for each move, no waiting. What cannot move now
  // stays as it is (IsGameInPlace says no, HeldSwap names it) for the next package install.
  RemoveOldAsides();
  if (!EntryExists(AsideFolder())) return;
  const fs::path next = PlayFolder() / ".next";
  std::string ignored;
  std::string finished;
  // Once the swap is done, the staging folder holds only what never moves.
  if (FinishSwap(next, 1, ignored, finished)) RemoveTree(next, ignored);
}

bool Builder::ReplaceGame(const fs::path& next, std::string& err) {
  flush_seconds = 0;
  // An earlier swap is finished first, so that .aside holds only what this one moves aside.
  std::string finished;
  if (!FinishSwap(next, replace_retry.tries, err, finished)) return false;
  const std::vector<fs::path> names = MovableEntries(next);
  if (names.empty()) return true;
  Flush(disk_flush.files, next);
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
        KeepHold(next, PathToUtf8(names[back]));
        return false;
      }
    }
    std::string ignored;
    RemoveEntry(AsideFolder(), ignored);
    return false;
  }
  const bool completed = CompleteSwap(next, err);
  char note[64];
  std::snprintf(note, sizeof note, "%.1f s of it flushing to the disk", flush_seconds);
  stage_note = note;
  return completed;
}

}  // namespace launcher
