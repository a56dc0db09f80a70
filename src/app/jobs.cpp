// The bodies of the jobs the launcher runs on its worker thread.
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

Job InstallJob(App& app) {
  return [&app](std::string& error) { return app.builder->BuildAll(error); };
}

Job BuildJob(App& app) {
  return [&app](std::string& error) { return app.builder->BuildAll(error); };
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
  // The package road puts each file of the package over its namesake by a rename, and only once
  // the whole package is unpacked and its code prepared, so the game in place (its library
  // included) still plays after a rebuild that is stopped or fails.
  return [&app](std::string& error) { return app.builder->BuildAll(error); };
}

}  // namespace launcher
