#include <windows.h>

#include <filesystem>
#include <string>

#include "support/scratch.h"

namespace launcher::test {

std::filesystem::path SelfPath() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
  buffer.resize(length);
  return std::filesystem::path(buffer);
}

}  // namespace launcher::test
