#include <windows.h>

#include "app/self_update.h"

namespace launcher {

std::filesystem::path OwnExePath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::filesystem::path(std::wstring(buffer, length));
}

}  // namespace launcher
