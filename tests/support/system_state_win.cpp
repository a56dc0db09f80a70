#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "support/system_state.h"

namespace launcher::test {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wide_name = Utf8ToWide(name);
  if (value) {
    SetEnvironmentVariableW(wide_name.c_str(), Utf8ToWide(*value).c_str());
  } else {
    SetEnvironmentVariableW(wide_name.c_str(), nullptr);
  }
}

std::optional<std::string> GetEnvValue(const std::string& name) {
  const std::wstring wide_name = Utf8ToWide(name);
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (length == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(length, L'\0');
  value.resize(GetEnvironmentVariableW(wide_name.c_str(), value.data(), length));
  return WideToUtf8(value);
}

bool IsProcessRunning(std::uint64_t pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
  if (process == nullptr) return false;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace launcher::test
