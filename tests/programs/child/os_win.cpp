#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "os.h"
#include "platform/platform.h"

namespace child {

std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(launcher::WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

std::vector<std::string> Environment() {
  std::vector<std::string> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    entries.push_back(launcher::WideToUtf8(entry));
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

void UseBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::uint64_t StartSelf(const std::vector<std::string>& args) {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
  std::wstring command = launcher::QuoteArg(self);
  for (const std::string& arg : args) command += L" " + launcher::QuoteArg(launcher::Utf8ToWide(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // No console of its own: a console host would be one more process holding the output open.
  if (!CreateProcessW(self.c_str(), command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

void CloseOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  CloseHandle(out);
  if (err != out) CloseHandle(err);
}

void NewSession() {}

}  // namespace child
