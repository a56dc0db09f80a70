// The launcher's interface: one window filling the viewport, with a header band, the section
// list, the page area and a footer with the status, the progress bar and "Stop".
//
// Everything here runs on the main thread, once per frame, between ImGui::NewFrame and
// ImGui::Render. Pages keep no state between frames: they read the App, start jobs through
// App::StartJob and call the Builder's quick queries and the shell services.
#pragma once

#include <filesystem>
#include <string>

#include <imgui.h>

#include "app/app.h"

namespace launcher {

// The sections of the list, by number (App::section).
enum Section { kGameSection = 0, kMusicSection = 1, kManageSection = 2, kLogSection = 3 };

// One frame of the interface. `window` is the native window, the pickers' owner; `bold` the
// font of headings, the title and "Play".
void DrawLauncher(App& app, void* window, ImFont* bold);

// The Game page: the new-launcher banner, the player's copy, the prebuilt or the build block,
// and "Play". `status`, `error` and `done` are the frame's snapshot.
void GamePage(App& app, void* window, ImFont* bold, const Status& status,
              const std::string& error, const std::string& done);
void ManagePage(App& app, ImFont* bold);
void MusicPage(App& app, void* window, ImFont* bold, const std::string& error,
               const std::string& done);
void LogPage(App& app);

// Takes the path the player picked on the Game page: identifies it and, once it is accepted and
// made the game's files, makes it App::game_copy. A refused pick shows why under "Your game"
// and keeps the copy that was there, which launcher.json still names.
// A disc image that must be copied (it lies on another drive) is copied by CopyGameJob, and
// becomes App::game_copy through TakeCopiedGame once the copy is whole.
void ChooseGameCopy(App& app, const std::filesystem::path& chosen);
// Once the copy job that ChooseGameCopy started has ended: its copy becomes App::game_copy when
// it is in place. Called on the main thread every frame, whatever page is shown.
void TakeCopiedGame(App& app);

// Starts the music import on `folder` and marks it as the page's last job.
void StartMusicImport(App& app, const std::filesystem::path& folder);

}  // namespace launcher
