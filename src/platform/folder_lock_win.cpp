#include <windows.h>

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/folder_lock.h"
#include "platform/platform.h"

namespace launcher {
namespace {

// The name of the object that a launcher holding `folder` keeps: a digest (FNV-1a, 64 bits) of
// the folder's path in capitals, as Windows compares paths, in the session's namespace.
std::wstring MarkerName(const std::filesystem::path& folder) {
  std::wstring path = folder.lexically_normal().wstring();
  if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  uint64_t digest = 1469598103934665603ull;
  for (const wchar_t c : path) {
    digest = (digest ^ static_cast<uint16_t>(c)) * 1099511628211ull;
  }
  wchar_t hex[17];
  for (int i = 15; i >= 0; --i, digest >>= 4) hex[i] = L"0123456789abcdef"[digest & 15];
  hex[16] = L'\0';
  return std::wstring(L"Local\\KelvaneLauncher.") + hex;
}

}  // namespace

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
  // No process ID is written: no other process could read it while the file is held. The
  // folder's named object tells a second launcher that a launcher holds it; without it (it could
  // not be made) a second one finds this one by its window.
  native_ = reinterpret_cast<std::intptr_t>(handle);
  const HANDLE marker = CreateMutexW(nullptr, FALSE, MarkerName(folder).c_str());
  if (marker != nullptr) marker_ = reinterpret_cast<std::intptr_t>(marker);
  return Outcome::kHeld;
}

void FolderLock::Release() {
  if (marker_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(marker_));
  marker_ = kNone;
  if (native_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = kNone;
}

bool FolderLockIsLauncher(const std::filesystem::path& folder) {
  const HANDLE marker = OpenMutexW(SYNCHRONIZE, FALSE, MarkerName(folder).c_str());
  if (marker == nullptr) return false;
  CloseHandle(marker);
  return true;
}

}  // namespace launcher
