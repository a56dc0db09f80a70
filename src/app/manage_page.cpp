// The Manage page: what is installed where, the folders, and removing what is no longer needed.
#include <mutex>
#include <string>

#include "app/pages.h"
#include "app/shell.h"
#include "app/theme.h"
#include "app/widgets.h"
#include "platform/platform.h"

namespace launcher {
namespace {

std::string GameState(const App& app) {
  const Builder& builder = *app.builder;
  const std::string built = builder.BuiltVersion();
  if (builder.BuiltOldWay()) {
    return (built.empty() ? "an earlier version" : built) + ", built the old way: update it on Game";
  }
  if (builder.IsGameInPlace()) return built.empty() ? "ready" : built;
  return "not ready yet";
}

void ThisInstall(const App& app, ImFont* bold) {
  SectionHeading("This install", bold);
  if (!ImGui::BeginTable("install", 2)) return;
  ImGui::TableSetupColumn("label", ImGuiTableColumnFlags_WidthFixed, 10 * ImGui::GetFontSize());
  ImGui::TableSetupColumn("value", ImGuiTableColumnFlags_WidthStretch);
  InfoRow("Launcher", app.game.launcher_version);
  InfoRow("Game", GameState(app));
  InfoRow("Your copy", app.game_copy.ok
                           ? app.game_copy.release + ", " + PathToUtf8(app.game_copy.path)
                           : std::string("not chosen"));
  InfoRow("Folder", PathToUtf8(app.root));
  InfoRow("Free on this drive", FormatSize(FreeSpaceOnDrive(app.root)));
  ImGui::EndTable();
}

void Folders(const App& app, ImFont* bold, bool in_place) {
  SectionHeading("Folders", bold);
  ImGui::BeginDisabled(!in_place);
  if (Button("Open the game's folder")) OpenPath(app.builder->PlayFolder());
  ImGui::EndDisabled();
  ImGui::SameLine();
  if (Button("Open launcher.log")) OpenUrl(PathToUtf8(app.root / "launcher.log"));
}

// The buttons that change the play folder wait while the game started by Play runs.
void SpaceAndRepairs(App& app, ImFont* bold, bool busy, bool in_place) {
  const bool running = app.GameRunning();
  SectionHeading("Space and repairs", bold);
  uint64_t build_files = 0;
  uint64_t tools = 0;
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    build_files = app.build_files_size;
    tools = app.tools_size;
  }

  ImGui::BeginDisabled(busy || running || !in_place || build_files == 0);
  const std::string remove_files = "Remove the build files (" + FormatSize(build_files) + ")";
  if (Button(remove_files.c_str())) {
    app.music_job = false;
    StartPageJob(app, "RemoveBuildFilesJob", RemoveBuildFilesJob(app), kRemoveBuildFilesTitle);
  }
  ImGui::EndDisabled();
  GameRunningNote(running);
  WrappedText("Frees space once the game is built. Your saves, settings and music are not touched.",
              colour::kMuted);

  if (!app.builder->PackageMode()) return;
  if (tools != 0) {
    ImGui::BeginDisabled(busy || !in_place);
    const std::string remove_tools = "Remove the old build tools (" + FormatSize(tools) + ")";
    if (Button(remove_tools.c_str())) {
      app.music_job = false;
      StartPageJob(app, "RemoveToolsJob", RemoveToolsJob(app), kRemoveToolsTitle);
    }
    ImGui::EndDisabled();
    WrappedText(in_place ? "The earlier versions built the game with these; this one does not "
                           "need them. FFmpeg, for your music, stays."
                         : "Once the game is updated: the earlier versions built it with these.",
                colour::kMuted);
  }
  ImGui::BeginDisabled(busy || running || !in_place || !app.game_copy.ok);
  if (Button("Build the game again")) {
    app.music_job = false;
    StartPageJob(app, "RebuildJob", RebuildJob(app), kRebuildTitle, JobKind::kGame);
  }
  ImGui::EndDisabled();
  GameRunningNote(running);
  WrappedText("If the game will not start. Takes a minute or two, and keeps your saves.",
              colour::kMuted);
}

}  // namespace

// The outcome of this page's jobs shows on the Game page: they clear App::music_job.
void ManagePage(App& app, ImFont* bold) {
  const bool busy = app.busy;
  const bool in_place = app.builder->IsGameInPlace();
  ThisInstall(app, bold);
  Folders(app, bold, in_place);
  SpaceAndRepairs(app, bold, busy, in_place);
}

}  // namespace launcher
