// The Your music page: choosing the player's music folder and converting it for the game.
#include <mutex>
#include <string>
#include <utility>

#include "app/pages.h"
#include "app/shell.h"
#include "app/theme.h"
#include "app/widgets.h"
#include "platform/platform.h"

namespace launcher {

void StartMusicImport(App& app, const std::filesystem::path& folder) {
  app.music_job = true;
  StartPageJob(app, "MusicImportJob", MusicImportJob(app, folder), kMusicImportTitle);
}

void MusicPage(App& app, void* window, ImFont* bold, const std::string& error,
               const std::string& done) {
  SectionHeading("Your music", bold);
  WrappedText(
      "The game plays Xbox custom soundtracks. Choose a folder of your own music: each folder in "
      "it becomes a soundtrack (MP3, FLAC, OGG, Opus, M4A, AAC, WAV, WMA, AIFF), and the songs "
      "in the folder itself one more. They are converted for the game (ffmpeg, about 90 MB, "
      "downloaded the first time; nothing is installed). In the game they are with the custom "
      "soundtracks.");
  std::filesystem::path folder;
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    folder = app.music_folder;
  }
  if (!folder.empty()) Text("Your music: " + PathToUtf8(folder), colour::kMuted);

  const bool busy = app.busy;
  // The import rewrites the game's soundtrack folder, which the running game reads.
  const bool running = app.GameRunning();
  ImGui::BeginDisabled(busy || running);
  if (Button("Choose a music folder...")) {
    const std::filesystem::path chosen =
        PickPath(window, true, "Choose a folder of your music");
    if (!chosen.empty()) StartMusicImport(app, chosen);
  }
  if (!folder.empty()) {
    ImGui::SameLine();
    if (Button("Update my music")) StartMusicImport(app, folder);
  }
  ImGui::EndDisabled();
  GameRunningNote(running);
  if (!folder.empty()) {
    Text("After adding or changing songs: only those are converted.", colour::kMuted);
  }

  if (!busy && app.music_job) {
    std::string summary;
    {
      std::lock_guard<std::mutex> lock(app.state_mutex);
      summary = app.music_summary;
    }
    const std::string shown = done.empty() ? std::string() : done + " " + summary;
    ErrorLine(app, error, shown, "Open launcher.log##music");
  }
}

}  // namespace launcher
