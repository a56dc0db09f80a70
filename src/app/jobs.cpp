// The bodies of the jobs the launcher runs on its worker thread.
#include <atomic>
#include <string>
#include <utility>

#include "app/app.h"
#include "app/self_update.h"
#include "app/timed_stop.h"
#include "platform/progress.h"

namespace launcher {

namespace {

// Looks for a newer launcher and offers it; a development launcher ("dev") does not look. A
// lookup ended by `stop` is not logged here: the check's end says why it stopped.
void CheckLauncherRelease(App& app, const std::atomic<bool>* stop) {
  const std::string& own = app.game.launcher_version;
  if (!IsVersionTag(own)) {
    return;
  }
  Release release;
  std::string error;
  if (!FetchLatestRelease(*app.http, app.game, release, error, stop)) {
    if (!stop->load()) {
      app.builder->Log("update check: " + (error.empty() ? std::string("no answer") : error));
    }
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

// Asks the Builder whether a new version of the game in place is ready. With `stop` (a
// development launcher, whose check fetches the source with git), the Builder's check reads its
// own cancel flag, which the timed stop holds set once the check is to end, and a stopped
// answer does not count.
void CheckGameUpdate(App& app, const TimedStop* stop) {
  const auto stopped = [stop] { return stop != nullptr && stop->Stopped(); };
  if (stopped() || !app.builder->IsGameInPlace()) {
    return;
  }
  bool ready = false;
  std::string error;
  if (app.builder->CheckGameUpdate(ready, error) && !stopped()) {
    app.game_update_ready = ready;
  }
}

}  // namespace

Job StartupCheckJob(App& app, std::chrono::seconds limit) {
  return [&app, limit](std::string& error) {
    // A release launcher knows the game's version it wants from its own: that answer needs no
    // network, so it comes first and stands whatever the release lookup does.
    const bool offline_answer = IsVersionTag(app.game.launcher_version);
    if (offline_answer) {
      CheckGameUpdate(app, nullptr);
    }
    bool stopped = false;
    bool timed_out = false;
    {
      const TimedStop stop(app.builder->cancel, limit);
      CheckLauncherRelease(app, stop.Flag());
      if (!offline_answer) {
        CheckGameUpdate(app, &stop);
      }
      stopped = stop.Stopped();
      timed_out = stop.TimedOut();
    }
    if (timed_out) {
      app.builder->Log("update check: no answer within " + std::to_string(limit.count()) +
                       " s, given up; the next start looks again");
    } else if (stopped) {
      app.builder->Log("update check: stopped");
    }
    error.clear();
    return true;
  };
}

namespace {

// Runs `body` with the sentences of its failure naming `button` after "press" (see
// kSameButton): the Builder's own, and the stop's, which the runner would otherwise word for
// the same button.
bool NamingTheButton(App& app, const std::string& button, const Job& body, std::string& error) {
  app.builder->retry_button = button;
  const bool ok = body(error);
  app.builder->retry_button = kSameButton;
  if (!ok && error == kCancelled && button != kSameButton) error = StoppedText(button);
  return ok;
}

// Makes the game's latest version ready. The offer of an update stands until that succeeds, so
// that a stopped or failed update keeps its button.
bool MakeGameCurrent(App& app, std::string& error) {
  if (!app.builder->BuildAll(error)) return false;
  app.game_update_ready = false;
  return true;
}

}  // namespace

Job InstallJob(App& app, std::string button) {
  return [&app, button = std::move(button)](std::string& error) {
    return NamingTheButton(
        app, button, [&app](std::string& e) { return MakeGameCurrent(app, e); }, error);
  };
}

Job BuildJob(App& app) {
  return [&app](std::string& error) { return MakeGameCurrent(app, error); };
}

Job UpdateLauncherJob(App& app, Release release) {
  return [&app, release = std::move(release)](std::string& error) {
    return NamingTheButton(
        app, "\"Update the launcher\" again",
        [&](std::string& e) { return UpdateLauncher(app, release, e); }, error);
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
  // included) still plays after a rebuild that is stopped or fails. Its outcome shows on the Game
  // page, which has no button for it then.
  return [&app](std::string& error) {
    return NamingTheButton(
        app, "\"Build the game again\" on Manage",
        [&app](std::string& e) { return app.builder->BuildAll(e); }, error);
  };
}

Job CopyGameJob(App& app, GameCopy copy) {
  return [&app, copy = std::move(copy)](std::string& error) {
    if (app.builder->CopyChosenGame(copy, error)) {
      app.game_copied = true;
      return true;
    }
    // A copy starts again from its beginning, so the stop's sentence does not say "carry on".
    if (error == kCancelled) error = kCopyStoppedText;
    return false;
  };
}

}  // namespace launcher
