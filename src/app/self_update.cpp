#include "app/self_update.h"

#include <cctype>
#include <mutex>
#include <system_error>

#include "platform/download.h"
#include "platform/file_ops.h"
#include "platform/platform.h"
#include "platform/sha.h"

namespace launcher {

namespace fs = std::filesystem;

fs::path NewLauncherPath(const fs::path& self) {
  fs::path path = self;
  path += ".new";
  return path;
}

fs::path OldLauncherPath(const fs::path& self) {
  fs::path path = self;
  path += ".old";
  return path;
}

namespace {

// True when the program at `self` already is the release's launcher, byte for byte.
bool InPlace(const fs::path& self, const Release& release) {
  if (release.sha256.empty()) return false;
  std::string wanted = release.sha256;
  for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return Sha256File(self) == wanted;
}

}  // namespace

void UpdateProgress(App& app, uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(app.state_mutex);
  app.status.title = "Downloading the new launcher";
  app.status.detail = FormatSize(done) + " of " + FormatSize(total);
  app.status.fraction = total == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(total);
}

bool UpdateLauncher(App& app, const Release& release, std::string& error) {
  return UpdateLauncherAt(app, release, OwnExePath(), error);
}

bool UpdateLauncherAt(App& app, const Release& release, const fs::path& self, std::string& error) {
  const fs::path new_path = NewLauncherPath(self);
  const fs::path old_path = OldLauncherPath(self);
  app.builder->cancel = false;
  // An update ended after the new program took its place: it is done.
  std::error_code ignored;
  if (!fs::exists(new_path, ignored) && InPlace(self, release)) {
    app.restart_pending = true;
    return true;
  }
  const ProgressFn progress = [&app](uint64_t done, uint64_t total) {
    UpdateProgress(app, done, total);
  };
  if (!Download(*app.http, release.browser_download_url, new_path, release.sha256, release.size,
                progress, &app.builder->cancel, error)) {
    return false;
  }
  // A download is written without the run bit; the new program gets the running one's modes.
  const fs::file_status self_status = fs::status(self, ignored);
  if (fs::exists(self_status)) {
    fs::permissions(new_path, self_status.permissions(), fs::perm_options::replace, ignored);
  }
  std::string move_error;
  if (!KeepProgramAside(self, old_path, move_error)) {
    error = "The launcher could not be updated (it could not rename itself). The new one is " +
            PathToUtf8(new_path) + ".";
    return false;
  }
  if (MoveReplacing(new_path, self, move_error)) {
    app.restart_pending = true;
    return true;
  }
  MoveReplacing(old_path, self, move_error);
  error = "The launcher could not be updated (the new one could not take its place). It is " +
          PathToUtf8(new_path) + ".";
  return false;
}

bool HandOverToNewLauncher(App& app, const fs::path& self) {
  std::string error;
  if (app.platform->StartGame(self, self.parent_path(), error)) {
    return true;
  }
  app.restart_pending = false;
  std::lock_guard<std::mutex> lock(app.state_mutex);
  app.error = "The new launcher is in place but did not start: " + error + " Start it again.";
  return false;
}

}  // namespace launcher
