#include "app/startup.h"

#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include <imgui.h>

#include "app/play_at_start.h"
#include "app/self_update.h"
#include "app/theme.h"
#include "catalogue/builtin_texts.h"
#include "platform/folder_lock.h"

namespace launcher {

namespace fs = std::filesystem;

namespace {

// Takes the folder's lock at app.root. kHeldElsewhere only when a launcher of the folder holds
// it. Another holder (a program that has the file open a moment, a stale ID under a lock that
// is no launcher's) is given kFolderLockRetry to let go; after that the outcome is kFailed with
// the reason in `error`, and the launcher runs unlocked rather than end without a window.
FolderLock::Outcome TakeFolder(App& app, const LauncherHoldsFolder& launcher_holds,
                               std::string& error) {
  const auto give_up = std::chrono::steady_clock::now() + kFolderLockRetry;
  for (;;) {
    const FolderLock::Outcome outcome = app.folder_lock.Take(app.root, error);
    if (outcome != FolderLock::Outcome::kHeldElsewhere) return outcome;
    if (launcher_holds && launcher_holds(app.root)) return outcome;
    if (std::chrono::steady_clock::now() >= give_up) break;
    std::this_thread::sleep_for(kFolderLockRetryStep);
  }
  error = "Could not lock " + PathToUtf8(app.root / kFolderLockName) +
          ": another program has held it for " + std::to_string(kFolderLockRetry.count()) +
          " ms, and it is no launcher of this folder.";
  return FolderLock::Outcome::kFailed;
}

}  // namespace

StartOutcome StartLauncher(App& app, const fs::path& self, const std::vector<std::string>& args,
                           bool shift_held, std::string& error,
                           const LauncherHoldsFolder& launcher_holds) {
  if (!ParseGameDescription(BuiltInGameJson(), app.game, error)) {
    return StartOutcome::kFailed;
  }
  app.game.launcher_version = kLauncherVersion;
#ifdef LAUNCHER_TEST_DISC_SHA1
  // A test build accepts the program checks' disc too (CMake's LAUNCHER_TEST_DISC).
  app.game.releases[LAUNCHER_TEST_DISC_SHA1] = "Test disc";
#endif
  app.root = self.parent_path() / app.game.short_name;
  // Before anything changes a file: the removal below, and the Builder, which may finish an
  // interrupted update, must never run beside another launcher's work on the folder.
  std::string lock_error;
  const FolderLock::Outcome lock = TakeFolder(app, launcher_holds, lock_error);
  if (lock == FolderLock::Outcome::kHeldElsewhere) {
    AppendLauncherLog(app.root, std::string(kAnotherLauncherLine) +
                                    (AskedToPlay(args) ? kWithoutPlaying : ""));
    return StartOutcome::kAnotherRuns;
  }
  std::error_code ignored;
  fs::remove(OldLauncherPath(self), ignored);  // left by a self-update

  app.builder =
      std::make_unique<Builder>(app.game, app.root, app.http.get(), app.platform.get());
  app.builder->builtin_toolchain = std::string(BuiltInToolchainJson());
  app.builder->status_callback = StoreStatus(app);
  app.builder->log_callback = AppendLogLine(app);
  app.builder->RemoveCopyLeftovers();
  if (lock == FolderLock::Outcome::kFailed) {
    app.builder->Log("the folder is not locked, a second launcher on it is not kept out: " +
                     lock_error);
  }

  app.agreed = fs::exists(app.root / "agreed.txt", ignored);
  const fs::path game_path = app.builder->GamePath();
  if (!game_path.empty()) {
    app.game_copy = IdentifyGameCopy(app.game, game_path);
    if (!app.game_copy.ok && !fs::exists(game_path, ignored)) {
      app.game_copy.message = CopyGoneMessage(game_path);
    } else if (app.game_copy.ok && !app.builder->GameInAssets()) {
      // The game would start without its disc (a copy of an image was stopped after the way
      // was cleared for it, say): the copy is chosen again before anything plays.
      app.game_copy.ok = false;
      app.game_copy.message = kCopyNotInPlaceText;
    }
  }
  app.music_folder = app.builder->SavedMusicFolder();

  const bool asked = AskedToPlay(args);
  app.play_at_start = app.builder->PlayAtStart();
  app.play_pending = !shift_held && (asked || app.play_at_start);
  app.play_decide_by = std::chrono::steady_clock::now() + kPlayAtStartWait;
  if (asked || app.play_at_start) {
    app.builder->Log(std::string("play at start: ") + (asked ? "--play" : "the saved choice") +
                     (shift_held ? ", Shift held: the launcher stays" : ""));
  }

  app.build_files_size = app.builder->BuildFilesSize();
  app.tools_size = app.builder->ToolsSize();
  app.StartJob(StartupCheckJob(app), "", JobKind::kStartupCheck);
  return StartOutcome::kReady;
}

ImFont* CreateInterface(float scale) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  SetupStyle(scale);
  return LoadFonts(SystemFontsFolder(), scale);
}

namespace {

// The new launcher takes the folder's lock as it starts, so this one lets go of it first:
// nothing here changes a file once the hand-over has succeeded. True when this launcher is to
// end: the new one started, or another launcher took the folder meanwhile.
bool HandOverFolder(App& app, const fs::path& self) {
  app.builder->Log("self-update: starting the new launcher");
  const bool held = app.folder_lock.held();
  app.folder_lock.Release();
  if (HandOverToNewLauncher(app, self)) {
    return true;
  }
  std::string lock_error;
  if (held && app.folder_lock.Take(app.root, lock_error) == FolderLock::Outcome::kHeldElsewhere) {
    app.builder->Log(kAnotherLauncherLine);
    return true;
  }
  return false;
}

}  // namespace

bool LeaveAfterFrame(App& app, const fs::path& self, const PlayAtStartWindow& window) {
  // The new launcher knows nothing of a game this one started, and would let its buttons change
  // the folder under it: the hand-over waits for the game's end, with what it left running.
  if (app.restart_pending && !app.busy && !app.GameRunning() && HandOverFolder(app, self)) {
    return true;
  }
  return app.play_pending && PlayAtStartTurn(app, window);
}

bool StopLauncher(App& app, const std::function<void()>& leave, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  if (app.builder) {
    app.builder->cancel = true;
  }
  if (leave) {
    leave();
  }
  // The worker clears `busy` as its last step, so the join that follows does not wait.
  while (app.busy && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (app.busy) {
    if (app.builder) {
      app.builder->Log("closing: the running job did not stop within " +
                       std::to_string(wait.count()) + " ms, the launcher ends without it");
    }
    return false;
  }
  if (app.worker.joinable()) {
    app.worker.join();
  }
  return true;
}

}  // namespace launcher
