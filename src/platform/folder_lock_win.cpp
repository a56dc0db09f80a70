#include <windows.h>

#include <string>
#include <system_error>

#include "platform/folder_lock.h"
#include "platform/platform.h"

namespace launcher {

FolderLock::Outcome FolderLock::Take(const std::filesystem::path& folder, std::string& error) {
  Release();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::filesystem::path file = folder / kFolderLockName;
  // Share mode 0: no other open of the file succeeds while this handle lives, in this process
  // or another. No security attributes: the handle is not inheritable, so a program the
  // launcher starts never keeps it.
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) return Outcome::kHeldElsewhere;
    error = LastErrorText(("Could not open " + PathToUtf8(file)).c_str()) + ".";
    return Outcome::kFailed;
  }
  // No process ID is written: no other process could read it while the file is held, and a
  // second launcher finds this one's window by its class and title instead.
  native_ = reinterpret_cast<std::intptr_t>(handle);
  return Outcome::kHeld;
}

void FolderLock::Release() {
  if (native_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = kNone;
}

}  // namespace launcher
