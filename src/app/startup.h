// What the launcher does between its entry and its first frame, and after its last one. The
// window code calls these; they know nothing of the window system.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/play_at_start.h"

struct ImFont;

namespace launcher {

// The launcher's own version.
inline constexpr const char* kLauncherVersion = "v1.0";

// Why a recorded copy of the game is not taken at start when the game's folder no longer holds
// it.
inline constexpr const char* kCopyNotInPlaceText =
    "The game's folder no longer holds your copy of the game: choose it again.";

// What StartLauncher found.
enum class StartOutcome {
  kReady,        // the App is prepared and holds its folder: the window opens
  kAnotherRuns,  // another launcher holds the folder: nothing changed but one log line, and the
                 // program ends (code 0) without a window of its own, after bringing the other's
                 // window forward
  kFailed,       // `error` says why
};

// The log line of a launcher that finds another one on its folder, with kWithoutPlaying added
// when it was asked to play.
inline constexpr const char* kAnotherLauncherLine =
    "another launcher runs on this folder: this one ends";
inline constexpr const char* kWithoutPlaying = " without playing";

// Whether the holder of the folder's lock at `root` is a launcher of that folder, one that can
// be asked to come forward; the window code knows how to find one.
using LauncherHoldsFolder = std::function<bool(const std::filesystem::path& root)>;

// How long start-up tries again for a folder whose lock something that is no launcher holds
// (a backup or scanning program that has the file open, say), and how often.
inline constexpr std::chrono::milliseconds kFolderLockRetry{2000};
inline constexpr std::chrono::milliseconds kFolderLockRetryStep{100};

// Prepares `app` for the program at `self`: the game description, the root beside the program
// and its lock (before anything there changes), the Builder with its sinks, the saved choices,
// the sizes, and the start-up check job. `args` are the arguments after the program's name;
// `shift_held` whether Shift is held now. kAnotherRuns only when `launcher_holds` says the
// lock's holder is a launcher of this folder; any other holder is tried again for
// kFolderLockRetry, after which the launcher runs without the lock and logs why (an empty
// `launcher_holds` takes no holder for a launcher). kFailed with the sentence in `error` only
// when the built-in game description cannot be read; a lock that cannot be had for another
// reason (a folder that cannot be made) is logged, and the launcher runs without it.
StartOutcome StartLauncher(App& app, const std::filesystem::path& self,
                           const std::vector<std::string>& args, bool shift_held,
                           std::string& error, const LauncherHoldsFolder& launcher_holds = {});

// Makes the Dear ImGui context (no ini file) with the launcher's style and fonts at `scale`;
// returns the bold font. The window code then starts its two backends.
ImFont* CreateInterface(float scale);

// The frame loop's decisions after each presented frame: once no job runs and the game that
// Play started has ended, hand over to a new launcher in place at `self` (letting go of the
// folder's lock for it, and taking it back when the new one does not start); play at start
// while that is pending. True when the loop ends.
bool LeaveAfterFrame(App& app, const std::filesystem::path& self,
                     const PlayAtStartWindow& window);

// How long the end of the program waits for a job it has stopped.
inline constexpr std::chrono::milliseconds kJobEndWait{2000};

// Stops a running job at its next check, runs `leave` (the window code hides its window there,
// which may take a while of its own), and waits for the worker thread until `wait` after the
// stop. False when the job still runs then (it waits on something that does not see the stop,
// such as a stalled transfer): the caller then ends the process at once without waiting for it,
// which leaves nothing half done that the next start does not mend (a download resumes from its
// part file).
bool StopLauncher(App& app, const std::function<void()>& leave = {},
                  std::chrono::milliseconds wait = kJobEndWait);

}  // namespace launcher
