// The build pipeline: the one object that makes the player's copy of the game playable and keeps
// the launcher's log, its progress reports, its timed stages and the player's settings file.
//
// The application creates one Builder for the whole run, assigns the two sinks and the built-in
// toolchain text right after construction, and then calls it from the main thread (quick queries,
// the quick part of choosing the game copy) and from the single worker thread (everything long).
//
// Threads: the log is written under log_mutex; launcher.json is read and changed from both
// threads, and every change (read the file, set one key, write it back) holds settings_mutex,
// so that two changes never lose each other's key. Readers take no lock: the file is replaced
// whole by a rename, so a reader sees the old or the new file.
//
// Files below the root:
//   launcher.json   the player's settings: "game", "game_sha1", "built", "play_at_start", "music"
//   launcher.log    one line per event, "%H:%M:%S " and the text
//   downloads/      downloads in progress and finished
//   tools/<id>/     installed build tools
//   play/           the game the player runs; play/assets is the chosen copy of the game,
//                   play/.next the staging folder of a package install (its
//                   ".launcher-version" names the version it holds), play/.aside what a
//                   package install's swap has moved out of the way (there only while one runs
//                   or was ended; the constructor finishes such a swap), play/.aside-2,
//                   .aside-3 ... what a finished swap could not remove (a file of the old
//                   version still running), removed at a later start or install
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "catalogue/game_copy.h"
#include "catalogue/game_description.h"
#include "catalogue/toolchain.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace launcher {

// A progress report: what is being done, the text over the bar, and the fraction done
// (0 to 1; negative when it is not known and the bar is indeterminate).
struct Status {
  std::string title;
  std::string detail;
  double fraction = -1;
};

// One timed stage of a build.
struct StageTime {
  std::string name;
  double seconds = 0;  // wall-clock seconds on the monotonic clock
};

// A package install's swap that could not finish: the version it puts in place ("" when the
// staging folder does not say) and the entry that the system still held at the last try.
struct SwapHold {
  std::string version;
  std::string entry;
};

// The sub-folder of `folder` whose name sorts last (text order, so "14.9" comes after "14.44");
// an empty path when there is none or the folder cannot be listed.
std::filesystem::path NewestSubfolder(const std::filesystem::path& folder);

// The paths as UTF-8 joined with `separator` (none before the first or after the last).
std::string JoinStrings(char separator, const std::vector<std::filesystem::path>& paths);

// What the player is told when the recorded copy of the game is no longer at `path`.
std::string CopyGoneMessage(const std::filesystem::path& path);

// Name mapper for the game's package zip: the relative path to write, or "" to leave the entry
// out (the player's folders hdd/, assets/, logs/, screenshots/, captures/, compiler/work/, a
// top-level *.toml, and anything that could leave the staging folder). The rules judge the name
// in one spelling ('\\' as '/', no empty or "." components), which is also the path returned.
std::string MapPackageEntry(const std::string& entry);

// The step counts at the start of a build tool's output line such as "[812/2045] Linking ...":
// true with `done` and `total` when the line begins with "[", is at least 4 characters long,
// and has a "/" before its first "]"; each number is the longest decimal prefix after the "["
// or the "/" (leading white space skipped; 0 when none), truncated to a whole number. False
// when done is negative (or "-0") or the whole total is below 1.
bool ParseBuildStep(const std::string& line, double& done, double& total);

class Builder {
 public:
  Builder(const GameDescription& game, const std::filesystem::path& root, Http* http,
          Platform* platform);
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  // --- Assigned by the application once, right after construction ---

  // Receives every progress report, on the reporting thread.
  std::function<void(const Status&)> status_callback;
  // Receives every log line without its time stamp, while the log mutex is held.
  std::function<void(const std::string&)> log_callback;
  // The running operation's cancel flag: set by Stop and at shutdown, cleared when a build,
  // a package install or a game choice starts. Long operations receive its address.
  std::atomic<bool> cancel{false};
  // The button that runs the current operation again, as the sentences for the player name it
  // after "press" (kSameButton, or a label and place such as "\"Build the game again\" on
  // Manage"). A job sets it before it calls the Builder, on the thread that runs the job.
  std::string retry_button = kSameButton;
  // The toolchain description built into the program.
  std::string builtin_toolchain;

  // The package install's step, read by the interface every frame: 0 none (or the last one
  // failed), 1 finding or downloading the package, 2 unpacking, 3 preparing the code and
  // putting it in place, 4 finished.
  std::atomic<int> package_step{0};
  // The stages of the current (or last) build in the order they ran.
  std::vector<StageTime> stage_times;

  // --- Log, progress and stages ---

  // One line to launcher.log (with its time stamp) and to the log sink. Never fails visibly.
  void Log(const std::string& line);
  // Empties the stage list and logs "build started <date>, <n> logical processors".
  void LogBuildStart();
  // Runs `body`, records its time and logs "stage <name>: <s> s", then " (<note>)" when the
  // body set stage_note, and " (stopped)" when it returned false. Returns the body's result.
  bool RunStage(const std::string& name, const std::function<bool()>& body);
  // What the running stage's body says of its time (such as the part of it one step took),
  // for the stage's line; cleared as each stage starts.
  std::string stage_note;
  // Logs the timing summary of the stage list.
  void LogTimings();
  // Hands a Status to the status sink, if one is installed.
  void Progress(const std::string& title, const std::string& detail, double fraction);

  // --- Paths and settings (quick; any thread) ---

  // The game description names a prebuilt package (or a package per copy of the game).
  bool PackageMode() const;
  std::filesystem::path PlayFolder() const;
  std::filesystem::path ToolFolder(const std::string& id) const;
  // The game's executable in the play folder, with the platform's executable suffix.
  std::filesystem::path GameExe() const;
  // The executable is there, and in package mode its "<exe>.dll" too, and no swap of a package
  // install is half done.
  bool IsGameInPlace() const;
  // The swap of a package install that the last try (the start's, or an install's) left
  // unfinished because the system held one of its entries; an empty entry when there is none.
  // Quick, for every frame: it reads what that try kept and looks at no folder.
  SwapHold HeldSwap() const;
  // Stores a JSON string under `key` in launcher.json, keeping every other key.
  void SetSetting(const std::string& key, const std::string& value);
  void SetPlayAtStart(bool on);
  // The launcher version that last finished a build; "" when none is recorded.
  std::string BuiltVersion() const;
  bool PlayAtStart() const;

  // --- The player's copy of the game ---

  // The recorded copy (or its disc image's copy inside play/assets when the original is gone);
  // empty when none is recorded.
  std::filesystem::path GamePath() const;
  // Makes play/assets the accepted copy (a folder link, or the disc image hard-linked or copied
  // into it) and records it in launcher.json.
  bool ChooseGame(const GameCopy& copy, std::string& error);
  // ChooseGame in two parts, so that a long copy can run on the worker thread. The first, quick
  // (main thread): the same choice when no copy is needed (a folder link, an image in place or
  // hard-linked), or, when the disc image has to be copied, play/assets made ready for it,
  // `copy_needed` set and nothing recorded yet. It clears the cancel flag, as ChooseGame does.
  bool ChooseGameWithoutCopying(const GameCopy& copy, bool& copy_needed, std::string& error);
  // The second, for a copy that is needed (worker thread): copies the image into play/assets
  // and records the choice. It leaves the cancel flag alone, so that a stop that comes before
  // it begins still ends it; stopped or failed, it leaves no copy and no record.
  bool CopyChosenGame(const GameCopy& copy, std::string& error);
  // play/assets holds the recorded copy (a link to its folder, or a whole copy or link of its
  // disc image), as the game reads it; false when none is recorded. Quick: no file is read.
  bool GameInAssets() const;
  // Removes what a copy of a disc image ended by a kill or a power cut left in a real
  // play/assets folder: its temporary. Quick (one listing); for the start.
  void RemoveCopyLeftovers();

  // --- Making the game playable (worker thread) ---

  // --- Build tools (worker thread) ---

  // Fetches toolchain.json from the game description's address (saving it in the root), or
  // falls back to the copy saved last and then to the built-in text; parses it into
  // `toolchain`, resolves Microsoft's packages when `microsoft` is set, and logs the
  // "tools: " summary. False with one sentence in `err`.
  bool LoadToolchain(Toolchain& toolchain, std::string& err, bool microsoft);
  // Makes `tool` present in ToolFolder(tool.id): nothing to do when its ".launcher-stamp" holds
  // the tool's digest; otherwise downloads its files (resumably, into downloads/<id>), unpacks
  // them by the tool's kind, writes the stamp and removes the downloads. False with one
  // sentence in `err`; the downloads then stay for the next attempt.
  bool InstallTool(const Tool& tool, std::string& err);

  // --- The player's music as the game's custom soundtracks (defined in src/music) ---

  // The folder of the last successful import (launcher.json's "music"); empty when none.
  std::filesystem::path SavedMusicFolder() const;
  // Where the game looks for custom soundtracks: play/hdd/E/TDATA/FFFE0000/MUSIC. It holds
  // "ST.DB", the manifest "launcher-music.json", a folder of song files per soundtrack and,
  // while an import runs, ".staging".
  std::filesystem::path SoundtrackFolder() const;
  // Worker thread. Converts every song of `folder` to WMA (keeping the songs that did not change
  // since the last import), writes ST.DB and the manifest and records the folder. On success
  // `summary` tells what was made; on failure `error` holds one sentence ("cancelled" after a
  // stop, which puts back every song the import had moved).
  bool ImportMusic(const std::filesystem::path& folder, std::string& summary, std::string& error);
  // Undoes a stopped import: each (staged, original) song file goes back to where it came from
  // and the staging folder goes. Sets `error` to "cancelled" and returns false.
  bool RollBackMusic(
      const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& moved,
      const std::filesystem::path& staging, std::string& error);

  // --- The build environment and the game's source (worker thread) ---

  // The environment every build child gets on top of the launcher's own: PATH led by the tool
  // folders, git's safe-directory setting, and the MSVC and Windows SDK variables when the MSVC
  // tools are installed. Only `toolchain.sdk_version` is read.
  std::map<std::string, std::string> BuildEnvironment(const Toolchain& toolchain);
  // Runs git (the toolchain's own when installed, else from PATH) with `args` in the root and
  // the build environment; each output line goes to the log, is appended with "\n" to `out` when
  // given, and git's progress lines become status reports. Returns git's exit code, or -1 when
  // it was stopped or could not start; `err` gets a sentence whenever the result is not 0.
  int Git(const std::vector<std::string>& args, std::string* out, std::string& err);
  // Clones the game's repository into source/, or brings the existing clone to the wanted
  // branch (a "dev" launcher) or the launcher's tag, with its submodules.
  bool FetchSource(std::string& err);
  // Writes the chosen copy's XBE files into source/assets, leaving files that already hold the
  // same bytes untouched.
  bool PutGameXbe(std::string& err);

  // The one entry point of the build jobs: the package install in package mode, otherwise the
  // build from source in timed stages (the build tools list, each tool, the game's source, its
  // XBE files, configure and compile, install). Every stage resumes what an earlier run left.
  bool BuildAll(std::string& err);
  // Downloads (or takes from beside the launcher) the package, unpacks it into play/.next, lets
  // the game prepare its code and puts the new version in place. Resumes where it stopped.
  bool BuildPackage(std::string& err);
  // The package name for the chosen copy; "" when none is known.
  std::string FindPackage() const;

  // Stage body "compile game code": runs the staged game with "--prepare-code" in `next`.
  // True when it exits with 0; each "failed " line it prints replaces `kept_error`.
  bool PrepareGameCode(const std::filesystem::path& next, std::string& kept_error);
  // One line of the game's "--prepare-code" output, `now_ns - start_ns` nanoseconds into the
  // run: progress lines become status reports, the others log lines.
  void HandlePrepareLine(const std::string& line, int64_t start_ns, int64_t now_ns,
                         std::string& kept_error);
  // Stage body "replace the game": swaps every entry of `next` but "logs", *.toml, the names of
  // the player's folders and the launcher's own with its namesake in the play folder, retrying
  // entries that the system still holds. The staged files are put on the disk before the first
  // move, and the play folder after the last, before the version that `next` names is recorded
  // as "built" and the old version's entries are removed. On failure, and after a stop
  // ("cancelled"), everything is put back: the old version is whole and `next` holds the package
  // and its stamp again.
  bool ReplaceGame(const std::filesystem::path& next, std::string& err);

  // How the swap puts what it changed on the disk: `files` every file beneath a folder (the
  // staging folder, before the first move), `folder` a folder's own entries (the play folder,
  // after the last). The launcher keeps the system's; only tests stand in, to see the order.
  struct DiskFlush {
    std::function<bool(const std::filesystem::path&, std::string&)> files;
    std::function<bool(const std::filesystem::path&, std::string&)> folder;
  };
  DiskFlush disk_flush;

  // How patient ReplaceGame is with an entry the system still holds: tries per entry and the
  // wait between two tries. The launcher keeps these values; only tests shorten them.
  struct ReplaceRetry {
    int tries = 120;
    std::chrono::milliseconds wait{1000};
  };
  ReplaceRetry replace_retry;

  // --- Configuring, compiling and installing the game from source ---
  //
  // CMake's build folder is source/out/build/release (the source's "release" preset). Its
  // ".launcher-tools" holds one line "<id> <sha256>\n" per tool that is not optional, as of the
  // last successful configure; when it no longer matches the toolchain, CMake's cache is made
  // again.

  // Configures source/ with CMake's "release" preset (on a fresh cache when the build tools
  // changed) and builds it. False with one sentence in `err`, or "cancelled" after a stop.
  bool Compile(std::string& err);
  // One line of the build's output: logged as it is; a "[n/m]" step count becomes a status.
  void HandleBuildLine(const std::string& line);
  // Copies the built game's executable (its name one of the description's exes) and every
  // ".dll" from the build folder into the play folder.
  bool InstallBuild(std::string& err);

  // --- Sizes, clean-up and starting the game ---
  //
  // Outside package mode the build files are source/out (CMake's build trees) and there are no
  // old build tools; in package mode the build files are play/compiler/work (the game's own code
  // build), and the old build tools are the leftovers of building from source: every entry of
  // tools/ but the music converter "ffmpeg", then source/, downloads/ and agreed.txt. Sizes never
  // follow or enter a link (a symbolic link, or a junction on Windows) below the listed paths.

  // True, with the sentence in `error`, when the root's path is longer than Microsoft's Windows
  // SDK installer accepts (80 UTF-16 units).
  bool PathTooLong(std::string& error) const;
  // In package mode: the game's executable is in the play folder without the library that every
  // package brings, so it was built from source.
  bool BuiltOldWay() const;
  // The old build tools that exist, in the order they are removed.
  std::vector<std::filesystem::path> ListTools() const;
  // Bytes taken by ListTools().
  uint64_t ToolsSize() const;
  // Removes ListTools() in order, logging "removed <path>" for each; stops at the first failure.
  bool RemoveTools(std::string& error);
  // Bytes of the files beneath the build-files folder.
  uint64_t BuildFilesSize() const;
  // Removes the build-files folder with everything in it; a missing folder is no error.
  bool RemoveBuildFiles(std::string& error);
  // Whether a new version of the game is ready to build: for a released launcher, the game in
  // place was built by another version; for a "dev" launcher, the branch has moved on from the
  // source's commit (git fetch). False with git's sentence in `error` when git fails.
  bool CheckGameUpdate(bool& update_ready, std::string& error);
  // Starts the game in the play folder, detached; the launcher does not wait for it.
  bool StartGame(std::string& error);

 private:
  struct PackageRun;   // what the stages of one package install share
  struct ToolInstall;  // what the steps of one tool install share

  bool DownloadToolFile(ToolInstall& install, const FileRef& file);
  bool UnpackArchives(ToolInstall& install);
  bool UnpackInstallers(ToolInstall& install);

  // The converters of the music import: the system's ffprobe and ffmpeg where programs carry
  // no suffix, else those of the toolchain's "ffmpeg" tool, installed first.
  bool FindConverters(std::string& ffprobe, std::string& ffmpeg, std::string& error);

  // The swap of a package install (replace_game.cpp).
  std::filesystem::path AsideFolder() const;
  // play/.aside is there and play/.next still holds something to move.
  bool SwapUnfinished() const;
  // Writes the launcher's version into the staging folder `next`, where the swap reads it.
  void StageVersion(const std::filesystem::path& next);
  // The version the staging folder `next` holds; "" when it does not say.
  std::string StagedVersion(const std::filesystem::path& next) const;
  // Runs `step` up to `tries` times, logging each failure and waiting replace_retry.wait between
  // two tries; false with the "Could not put" sentence for `name`, or "cancelled" after a stop.
  bool Patiently(const std::string& name, int tries,
                 const std::function<bool(std::string&)>& step, std::string& err);
  // Runs one of disk_flush's steps on `path`, adding its time to flush_seconds; a failure is
  // logged, and the swap goes on with what the system would do.
  void Flush(const std::function<bool(const std::filesystem::path&, std::string&)>& step,
             const std::filesystem::path& path);
  // The end of a swap whose entries have all moved: the play folder on the disk, the version of
  // `next` recorded as "built", the hold forgotten and .aside cleared (see ClearAside).
  bool CompleteSwap(const std::filesystem::path& next, std::string& err);
  // Removes .aside, logging "Could not remove the old version's <file>: <why>" for what cannot
  // go now (a file of the old version still running), which moves with the rest under the next
  // free name .aside-<n>, so that .aside is free for the next swap. False, with the sentence
  // for the player, only when .aside is still there after all.
  bool ClearAside(std::string& err);
  // Removes the .aside-<n> folders that earlier swaps left, as far as they can go now.
  void RemoveOldAsides();
  // Keeps the swap left unfinished at `entry` for HeldSwap, or forgets it (an empty entry).
  void KeepHold(const std::filesystem::path& next, const std::string& entry);
  // One try at moving the namesake of `name` aside and the staged entry into its place.
  bool SwapEntry(const std::filesystem::path& next, const std::filesystem::path& name,
                 std::string& why);
  // Puts the staged entry back into `next` and its namesake back from .aside.
  bool UnswapEntry(const std::filesystem::path& next, const std::filesystem::path& name,
                   std::string& why);
  // Carries a swap that was begun (play/.aside is there) through to its end: the rest of
  // `next` moves in, the swap is completed and logged. True when there was none or it is done;
  // `finished` then gets the version it put in place ("" when none, or `next` does not say).
  // False, with the swap kept for HeldSwap, when an entry would not move, or when .aside could
  // not be cleared for the next swap.
  bool FinishSwap(const std::filesystem::path& next, int tries, std::string& err,
                  std::string& finished);
  // The constructor's part: the old .aside-<n> folders removed, FinishSwap with one try per
  // move, and then the staging folder, which holds nothing more to move.
  void MendUnfinishedSwap();

  bool FailPackageBuild(std::string& err);
  // The end of a package install whose new version is in place: the staging folder goes, the
  // game must be whole, and the install is recorded and reported ready.
  bool EndPackageBuild(PackageRun& run);
  bool DownloadPackage(PackageRun& run);
  bool UnpackPackage(PackageRun& run);
  void RemoveOtherDiscImages(const std::filesystem::path& assets,
                             const std::filesystem::path& keep);
  bool CopyDiscImage(const std::filesystem::path& source, const std::filesystem::path& dest,
                     std::string& error);
  // ChooseGame without touching the cancel flag: links or copies the copy into play/assets and
  // records it. With `copy_needed`, an image that has to be copied is not: play/assets is left
  // ready for it, *copy_needed set and nothing recorded.
  bool PlaceGame(const GameCopy& copy, std::string& error, bool* copy_needed = nullptr);
  // play/assets holds `path`, the recorded copy.
  bool IsGameInAssets(const std::filesystem::path& path) const;
  // Makes play/assets the recorded copy again when it no longer is (the play folder was removed,
  // say), as choosing it does; true when it is, or when no copy is recorded. False with one
  // sentence when the recorded copy is gone or is not the game any more.
  bool RelinkGame(std::string& error);
  // play/compiler/work in package mode, else source/out.
  std::filesystem::path BuildFilesFolder() const;
  // A string value of launcher.json; "" when the file, the key or its type is wrong.
  std::string SettingText(const std::string& key) const;
  // Stores `value` under `key` in launcher.json, keeping every other key (under settings_mutex).
  void WriteSetting(const std::string& key, const nlohmann::json& value);

  GameDescription game;
  std::filesystem::path root;
  Http* http;
  Platform* platform;
  Toolchain toolchain;
  std::mutex log_mutex;
  std::mutex settings_mutex;  // held by every read-change-write of launcher.json
  mutable std::mutex hold_mutex;
  SwapHold hold;               // under hold_mutex: see HeldSwap
  double flush_seconds = 0;    // the time the current swap spent flushing to the disk
};

// Appends one line, "%H:%M:%S " and `line`, to root/launcher.log, making the root when it is
// missing; the file is opened per line, so nothing stays open. Never fails visibly. Builder::Log
// writes through it, and so does a launcher that leaves its folder to another without a Builder.
void AppendLauncherLog(const std::filesystem::path& root, const std::string& line);

}  // namespace launcher
