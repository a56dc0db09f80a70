// Replacing the running launcher with a newer release: the new program is downloaded beside the
// running one as "<program>.new", the running one is kept as "<program>.old", and the new one
// takes its name. The main loop then starts it; the next start deletes the ".old" file. An update
// ended at any moment is finished by the next one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "catalogue/release.h"

namespace launcher {

// The running program's own file.
std::filesystem::path OwnExePath();

// `self` with ".new" / ".old" appended to its whole file name (".exe" stays inside the name).
std::filesystem::path NewLauncherPath(const std::filesystem::path& self);
std::filesystem::path OldLauncherPath(const std::filesystem::path& self);

// Brings the release's launcher to the running program's place and sets App::restart_pending.
// False with one sentence in `error` when the download fails ("cancelled" when stopped; a later
// call resumes it) or a move fails (the complete ".new" file then stays for the next try).
bool UpdateLauncher(App& app, const Release& release, std::string& error);
// The same for the program at `self`.
bool UpdateLauncherAt(App& app, const Release& release, const std::filesystem::path& self,
                      std::string& error);

// After the update, once no job runs and the game Play started has ended: starts the new
// launcher at `self`. True when it started
// (the frame loop then ends); otherwise App::error says so and the launcher carries on.
bool HandOverToNewLauncher(App& app, const std::filesystem::path& self);

// The download's progress as the footer shows it.
void UpdateProgress(App& app, uint64_t done, uint64_t total);

}  // namespace launcher
