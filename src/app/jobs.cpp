// The bodies of the jobs the launcher runs on its worker thread.
#include <system_error>
#include <utility>

#include "app/app.h"
#include "app/self_update.h"

namespace launcher {

namespace {

// Looks for a newer launcher and offers it; a development launcher ("dev") does not look.
void CheckLauncherRelease(App& app) {
  const std::string& own = app.game.launcher_version;
  if (!IsVersionTag(own)) {
    return;
  }
  Release release;
  std::string error;
  if (!FetchLatestRelease(*app.http, app.game, release, error)) {
    app.builder->Log("update check: " + (error.empty() ? std::string("no answer") : error));
    return;
  }
  if (CompareVersionTags(release.tag_name, own) > 0) {
    app.builder->Log("update check: " + release.tag_name + " is out, this launcher is " + own +
                     ": offered");
    {
      std::lock_guard<std::mutex> lock(app.release_mutex);
      app.offered_release = release;
    }
    app.launcher_offered = true;
  } else {
    app.builder->Log("update check: the latest release is " + release.tag_name +
                     ", this launcher is " + own);
  }
}

}  // namespace

Job StartupCheckJob(App& app) {
  return [&app](std::string& error) {
    CheckLauncherRelease(app);
    if (app.builder->IsGameInPlace()) {
      bool ready = false;
      std::string check_error;
      if (app.builder->CheckGameUpdate(ready, check_error)) {
        app.game_update_ready = ready;
      }
    }
    error.clear();
    return true;
  };
}

namespace {

// Makes the game's latest version ready. The offer of an update stands until that succeeds, so
// that a stopped or failed update keeps its button.
bool MakeGameCurrent(App& app, std::string& error) {
  if (!app.builder->BuildAll(error)) return false;
  app.game_update_ready = false;
  return true;
}

}  // namespace

Job InstallJob(App& app) {
  return [&app](std::string& error) { return MakeGameCurrent(app, error); };
}

Job BuildJob(App& app) {
  return [&app](std::string& error) { return MakeGameCurrent(app, error); };
}

Job UpdateLauncherJob(App& app, Release release) {
  return [&app, release = std::move(release)](std::string& error) {
    return UpdateLauncher(app, release, error);
  };
}

Job MusicImportJob(App& app, std::filesystem::path folder) {
  return [&app, folder = std::move(folder)](std::string& error) {
    std::string summary;
    if (!app.builder->ImportMusic(folder, summary, error)) {
      return false;
    }
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.music_folder = folder;
    app.music_summary = summary;
    return true;
  };
}

Job RemoveBuildFilesJob(App& app) {
  return [&app](std::string& error) { return app.builder->RemoveBuildFiles(error); };
}

Job RemoveToolsJob(App& app) {
  return [&app](std::string& error) { return app.builder->RemoveTools(error); };
}

Job RebuildJob(App& app) {
  return [&app](std::string& error) {
    // Without its library the game no longer counts as in place, so the install lays it anew.
    std::error_code ignored;
    std::filesystem::remove(app.builder->PlayFolder() / (app.game.exe + ".dll"), ignored);
    return app.builder->BuildAll(error);
  };
}

}  // namespace launcher
