// The game runs in a job object of its own (no limits set), which counts every process it
// starts; the wait ends when the game has ended and the job has no active process left.
#include "app/game_process.h"

#include <windows.h>

#include <string>

#include "platform/process_win.h"

namespace launcher {

struct GameProcess::Impl {
  HANDLE job = nullptr;
  HANDLE process = nullptr;

  ~Impl() {
    if (process != nullptr) CloseHandle(process);
    if (job != nullptr) CloseHandle(job);
  }

  bool JobHasProcesses() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                   nullptr)) {
      return false;
    }
    return info.ActiveProcesses != 0;
  }
};

// A job counts the game's processes however the launcher follows it.
GameProcess::GameProcess(Follow) : impl_(std::make_unique<Impl>()) {}
GameProcess::~GameProcess() = default;

bool GameProcess::Start(const std::filesystem::path& exe, const std::filesystem::path& cwd,
                        uint32_t& error_code) {
  impl_->job = CreateJobObjectW(nullptr, nullptr);
  std::wstring command_line = L"\"" + exe.wstring() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  bool in_job = false;
  if (!CreateProcessInJob(exe.c_str(), command_line.data(), false, 0, nullptr, cwd.c_str(),
                          startup, impl_->job, info, in_job)) {
    error_code = GetLastError();
    if (impl_->job != nullptr) {
      CloseHandle(impl_->job);
      impl_->job = nullptr;
    }
    SetLastError(error_code);
    return false;
  }
  if (impl_->job != nullptr && !in_job) {
    CloseHandle(impl_->job);  // only the game's own process is awaited then
    impl_->job = nullptr;
  }
  CloseHandle(info.hThread);
  impl_->process = info.hProcess;
  return true;
}

bool GameProcess::Running() {
  if (impl_->process == nullptr) return false;
  if (WaitForSingleObject(impl_->process, 0) != WAIT_OBJECT_0) return true;
  return impl_->job != nullptr && impl_->JobHasProcesses();
}

bool GameProcess::Wait(const std::function<bool()>& pump, uint32_t& exit_code) {
  bool game_ended = false;
  for (;;) {
    // Once the game's own process has ended its handle stays signalled: wait only for input and
    // the time-out then, or the loop would spin while the processes it left behind run.
    const DWORD woke = game_ended
                           ? MsgWaitForMultipleObjects(0, nullptr, FALSE, 500, QS_ALLINPUT)
                           : MsgWaitForMultipleObjects(1, &impl_->process, FALSE, 500, QS_ALLINPUT);
    if (woke == WAIT_FAILED) {
      break;
    }
    // The process and job handles stay open, so Running follows the game from here on.
    if (!pump()) return false;
    const bool by_handle = !game_ended && woke == WAIT_OBJECT_0;
    if (game_ended || by_handle || woke == WAIT_TIMEOUT) {
      if (WaitForSingleObject(impl_->process, 0) != WAIT_OBJECT_0) {
        continue;
      }
      game_ended = true;
      if (impl_->job == nullptr || !impl_->JobHasProcesses()) {
        break;
      }
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  exit_code = code;
  return true;
}

}  // namespace launcher
