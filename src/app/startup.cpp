#include "app/startup.h"

#include <system_error>

#include <imgui.h>

#include "app/play_at_start.h"
#include "app/self_update.h"
#include "app/theme.h"
#include "catalogue/builtin_texts.h"

namespace launcher {

namespace fs = std::filesystem;

bool StartLauncher(App& app, const fs::path& self, const std::vector<std::string>& args,
                   bool shift_held, std::string& error) {
  if (!ParseGameDescription(BuiltInGameJson(), app.game, error)) {
    return false;
  }
  app.game.launcher_version = kLauncherVersion;
  std::error_code ignored;
  fs::remove(OldLauncherPath(self), ignored);  // left by a self-update

  app.root = self.parent_path() / app.game.short_name;
  app.builder =
      std::make_unique<Builder>(app.game, app.root, app.http.get(), app.platform.get());
  app.builder->builtin_toolchain = std::string(BuiltInToolchainJson());
  app.builder->status_callback = StoreStatus(app);
  app.builder->log_callback = AppendLogLine(app);

  app.agreed = fs::exists(app.root / "agreed.txt", ignored);
  const fs::path game_path = app.builder->GamePath();
  if (!game_path.empty()) {
    app.game_copy = IdentifyGameCopy(app.game, game_path);
  }
  app.music_folder = app.builder->SavedMusicFolder();

  const bool asked = AskedToPlay(args);
  app.play_at_start = app.builder->PlayAtStart();
  app.play_pending = !shift_held && (asked || app.play_at_start);
  if (asked || app.play_at_start) {
    app.builder->Log(std::string("play at start: ") + (asked ? "--play" : "the saved choice") +
                     (shift_held ? ", Shift held: the launcher stays" : ""));
  }

  app.build_files_size = app.builder->BuildFilesSize();
  app.tools_size = app.builder->ToolsSize();
  app.StartJob(StartupCheckJob(app), "", JobKind::kStartupCheck);
  return true;
}

ImFont* CreateInterface(float scale) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  SetupStyle(scale);
  return LoadFonts(SystemFontsFolder(), scale);
}

bool LeaveAfterFrame(App& app, const fs::path& self, const PlayAtStartWindow& window) {
  if (app.restart_pending && !app.busy && HandOverToNewLauncher(app, self)) {
    return true;
  }
  return app.play_pending && PlayAtStartTurn(app, window);
}

void StopLauncher(App& app) {
  if (app.builder) {
    app.builder->cancel = true;
  }
  if (app.worker.joinable()) {
    app.worker.join();
  }
}

}  // namespace launcher
