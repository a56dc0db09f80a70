// The child process runner on Windows: a pipe for the combined output, a merged and sorted
// UTF-16 environment block, a kill-on-close job object for the whole process tree, and a
// watcher thread that ends the job when the caller's cancel flag is set.
#include "platform/process_win.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ascii.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace {

constexpr DWORD kReadSize = 4096;
constexpr DWORD kCancelPollMs = 100;

// A kernel handle, closed when the object goes away or on reset().
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

using EnvEntry = std::pair<std::wstring, std::wstring>;

// The launcher's environment as (name, value) pairs. A name may begin with "=" (the hidden
// per-drive folders such as "=C:"), so the split is at the first "=" from the second character
// on; entries without one are dropped.
std::vector<EnvEntry> CurrentEnvironment() {
  std::vector<EnvEntry> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return entries;
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    if (text.size() < 2) continue;
    const std::size_t equals = text.find(L'=', 1);
    if (equals == std::wstring_view::npos) continue;
    entries.emplace_back(std::wstring(text.substr(0, equals)), std::wstring(text.substr(equals + 1)));
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

std::wstring UpperCase(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), DWORD(text.size()));
  return text;
}

// The order Windows keeps environment blocks in: by UTF-16 code with A to Z folded to a to z
// (so "_" sorts before the letters), a name before every longer name it begins.
bool NameBefore(const EnvEntry& a, const EnvEntry& b) {
  return std::lexicographical_compare(
      a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
      [](wchar_t x, wchar_t y) { return AsciiLower(x) < AsciiLower(y); });
}

// The launcher's environment with each override replacing every entry of its name, compared
// without regard to case, as a sorted block of "name=value" texts, each ending in a NUL
// character, followed by one more NUL character.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& overrides) {
  std::vector<EnvEntry> entries = CurrentEnvironment();
  for (const auto& [name, value] : overrides) {
    const std::wstring wide_name = Utf8ToWide(name);
    const std::wstring upper_name = UpperCase(wide_name);
    std::erase_if(entries, [&](const EnvEntry& entry) { return UpperCase(entry.first) == upper_name; });
    entries.emplace_back(wide_name, Utf8ToWide(value));
  }
  std::stable_sort(entries.begin(), entries.end(), NameBefore);
  std::wstring block;
  for (const auto& [name, value] : entries) {
    block += name;
    block += L'=';
    block += value;
    block += L'\0';
  }
  block += L'\0';
  if (entries.empty()) block += L'\0';  // an empty block still ends in two NUL characters
  return block;
}

// A job whose processes all die when its last handle is closed; an empty handle when the
// system gives none.
HANDLE CreateKillOnCloseJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);  // a job that would not take its processes with it is no job for us
    return nullptr;
  }
  return job;
}

// Held from the making of a child's inheritable pipe end until it is closed after the child has
// started: a child that another thread starts meanwhile would inherit that end too and keep the
// pipe open, so the first run would wait for the other child to end before it sees its own end.
std::mutex& InheritableHandlesMutex() {
  static std::mutex mutex;
  return mutex;
}

struct WatcherParams {
  HANDLE job;
  const std::atomic<bool>* cancel;
  const std::atomic<bool>* done;
};

// The watcher thread: until the run is done, ends the job (every process in it, exit code 1)
// as soon as the cancel flag is set, checking every 100 ms.
DWORD WINAPI CancelWatcher(void* param) {
  const auto* watched = static_cast<const WatcherParams*>(param);
  while (!watched->done->load()) {
    if (watched->cancel->load()) {
      TerminateJobObject(watched->job, 1);
      return 0;
    }
    Sleep(kCancelPollMs);
  }
  return 0;
}

void ReadLines(HANDLE pipe, const LineSink& sink) {
  LineSplitter splitter(sink);
  char buffer[kReadSize];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, kReadSize, &got, nullptr) && got > 0) splitter.Feed(buffer, got);
  splitter.Finish();
}

}  // namespace

bool CreateProcessInJob(const wchar_t* application, wchar_t* command_line, bool inherit_handles,
                        DWORD flags, void* environment, const wchar_t* cwd,
                        const STARTUPINFOW& startup, HANDLE job, PROCESS_INFORMATION& info,
                        bool& in_job) {
  in_job = false;
  if (job != nullptr) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (size != 0 && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      STARTUPINFOEXW extended{};
      extended.StartupInfo = startup;
      extended.StartupInfo.cb = sizeof extended;
      extended.lpAttributeList = list;
      const bool started =
          UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job, sizeof job,
                                    nullptr, nullptr) &&
          CreateProcessW(application, command_line, nullptr, nullptr, inherit_handles,
                         flags | EXTENDED_STARTUPINFO_PRESENT, environment, cwd,
                         &extended.StartupInfo, &info);
      DeleteProcThreadAttributeList(list);
      if (started) {
        in_job = true;
        return true;
      }
    }
  }
  STARTUPINFOW plain = startup;
  if (!CreateProcessW(application, command_line, nullptr, nullptr, inherit_handles,
                      flags | CREATE_SUSPENDED, environment, cwd, &plain, &info)) {
    return false;
  }
  in_job = job != nullptr && AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  return true;
}

int RunProcess(const std::wstring& command_line, const std::filesystem::path& cwd,
               const std::map<std::string, std::string>& env, const LineSink& sink,
               const std::atomic<bool>* cancel) {
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  Handle read_end;
  Handle write_end;
  std::unique_lock<std::mutex> inheriting(InheritableHandlesMutex());
  if (!CreatePipe(read_end.out(), write_end.out(), &inheritable, 0)) return -1;
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();

  std::wstring environment = EnvironmentBlock(env);
  Handle job(CreateKillOnCloseJob());

  std::wstring writable_command = command_line;
  PROCESS_INFORMATION process{};
  bool in_job = false;
  const bool started = CreateProcessInJob(
      nullptr, writable_command.data(), true, CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
      environment.data(), cwd.empty() ? nullptr : cwd.c_str(), startup, job.get(), process, in_job);
  const DWORD start_error = GetLastError();
  // Only the child keeps the write end, so reading ends when it and its descendants close it.
  write_end.reset();
  inheriting.unlock();

  if (!started) {
    if (sink) {
      const std::string text = "cannot start " + WideToUtf8(command_line);
      SetLastError(start_error);
      sink(LastErrorText(text.c_str()));
    }
    read_end.reset();
    job.reset();
    return -1;
  }

  Handle process_handle(process.hProcess);
  CloseHandle(process.hThread);

  std::atomic<bool> done{false};
  WatcherParams params{job.get(), cancel, &done};
  Handle watcher;
  if (job && cancel != nullptr) watcher.reset(CreateThread(nullptr, 0, CancelWatcher, &params, 0, nullptr));

  ReadLines(read_end.get(), sink);

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 0;

  done = true;
  if (watcher) {
    WaitForSingleObject(watcher.get(), INFINITE);
    watcher.reset();
  }
  // Closing the job kills whatever of the tree still runs.
  process_handle.reset();
  read_end.reset();
  job.reset();

  if (cancel != nullptr && cancel->load()) return -1;
  return static_cast<int>(exit_code);
}

}  // namespace launcher
