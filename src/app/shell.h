// Services of the desktop shell the interface needs: a picker for the game copy or a folder,
// opening a link or a path with the program the system associates with it, and the free space
// of a drive. Main thread only; none of them reports an error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

// The program's window as the system knows it (an HWND on Windows, a GLFWwindow* elsewhere).
using NativeWindow = void*;

// Shows the system's picker over `owner`: a folder in folder mode (titled `title`, or "Choose
// the folder with the game's files" when null), otherwise a disc image or default.xbe (the title
// is then always "Choose the game's disc image"). Blocks until it closes; empty when it was
// cancelled or could not be shown.
std::filesystem::path PickPath(NativeWindow owner, bool folder_mode, const char* title);

// Opens a URL or path (UTF-8) with the program the system associates with it.
void OpenUrl(const std::string& url);
void OpenPath(const std::filesystem::path& path);

// Bytes free for this user on the volume of the nearest existing ancestor of `path`; 0 when the
// query fails.
uint64_t FreeSpaceOnDrive(const std::filesystem::path& path);

// `path` itself when it exists, else its nearest existing ancestor; empty when none exists.
std::filesystem::path NearestExisting(const std::filesystem::path& path);

}  // namespace launcher
