#include <windows.h>

#include <string>

#include "app/theme.h"

namespace launcher {

std::filesystem::path SystemFontsFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::filesystem::path(L"C:\\Windows\\Fonts");
  return std::filesystem::path(std::wstring(buffer, length)) / L"Fonts";
}

}  // namespace launcher
