// Under Wine the system behind it is reached through Wine's own exports: its path names and its
// programs, which CreateProcessW starts (without a handle to wait on) when given one.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "support/silent_names.h"

namespace launcher::test {
namespace {

using ToUnix = char*(CDECL*)(const wchar_t*);
using ToDos = wchar_t*(CDECL*)(const char*);

// A Wine export of kernel32; null on Windows proper.
template <typename Function>
Function WineExport(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

}  // namespace

std::string ShellPathOf(const std::string& path) {
  const auto to_unix = WineExport<ToUnix>("wine_get_unix_file_name");
  if (to_unix == nullptr) return "";
  char* unix_path = to_unix(Utf8ToWide(path).c_str());
  if (unix_path == nullptr) return "";
  std::string result(unix_path);
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

bool StartShellCommand(const std::vector<std::string>& args, bool& ended, std::string& error) {
  ended = false;
  const auto to_dos = WineExport<ToDos>("wine_get_dos_file_name");
  wchar_t* program = to_dos != nullptr ? to_dos(args[0].c_str()) : nullptr;
  if (program == nullptr) {
    error = "Wine cannot name " + args[0];
    return false;
  }
  std::wstring command_line = JoinCommandLine(args);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program, command_line.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &process);
  HeapFree(GetProcessHeap(), 0, program);
  if (!started) {
    error = "Wine cannot start " + args[0];
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace launcher::test
