// Platform on Windows: child processes through the runner, msiexec's administrative install,
// folder junctions with mklink, hard links, and starting the game.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "platform/process_win.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

class WinPlatform : public Platform {
 public:
  int Run(const std::vector<std::string>& args, const fs::path& cwd,
          const std::map<std::string, std::string>& env, const LineSink& sink,
          const std::atomic<bool>* cancel) override {
    return RunProcess(JoinCommandLine(args), cwd, env, sink, cancel);
  }

  bool ExtractMsi(const fs::path& msi, const fs::path& target, std::string& error) override {
    const fs::path log = MsiLogPath(msi, target);
    const int code =
        RunProcess(MsiexecCommandLine(msi, target, log), msi.parent_path(), {}, nullptr, nullptr);
    if (code == 0 || code == ERROR_SUCCESS_REBOOT_REQUIRED) return true;
    error = MsiExtractError(msi, "msiexec", code, log);
    return false;
  }

  bool LinkFolder(const fs::path& link, const fs::path& target, std::string& error) override {
    const std::wstring command =
        L"cmd.exe /c mklink /J \"" + link.wstring() + L"\" \"" + target.wstring() + L"\"";
    std::string output;
    const int code = RunProcess(command, link.parent_path(), {},
                                [&](const std::string& line) { output += line + "\n"; }, nullptr);
    // A command interpreter can end well without making the junction (Wine's does); the
    // game's files are reachable only when the link is really there.
    std::error_code ec;
    if (code == 0 && fs::is_directory(link, ec)) return true;
    if (code == 0 && output.empty()) output = "no junction was made\n";
    error = LinkFolderError(output);
    return false;
  }

  bool HardLink(const fs::path& link, const fs::path& existing) override {
    return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) != FALSE;
  }

  bool StartGame(const fs::path& exe, const fs::path& cwd, std::string& error) override {
    std::wstring command = QuoteArg(exe.wstring());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &process)) {
      error = LastErrorText("Could not start the game");
      return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
  }

  std::string ExeSuffix() override { return ".exe"; }

  char PathListSeparator() override { return ';'; }

  std::string GetEnv(const std::string& name) override {
    const std::wstring wide_name = Utf8ToWide(name);
    DWORD length = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    // The value may change between the two reads: read again until it fits.
    while (length > 0) {
      std::wstring value(length, L'\0');
      const DWORD got = GetEnvironmentVariableW(wide_name.c_str(), value.data(), length);
      if (got < length) {
        value.resize(got);
        return WideToUtf8(value);
      }
      length = got;
    }
    return "";
  }
};

}  // namespace

std::unique_ptr<Platform> CreatePlatform() { return std::make_unique<WinPlatform>(); }

}  // namespace launcher
