// Running one child process on Windows (used by platform_win.cpp).
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>

#include "platform/platform.h"

namespace launcher {

// Runs `command_line` (the whole command line; the system finds the program from its first
// word) hidden, in `cwd` (the launcher's own folder when empty), with the launcher's environment
// and `env` on top (names compared case-insensitively), inside a job object that kills the whole
// tree when the run ends. Standard output and standard error go, cut into lines, to `sink`
// (which may be empty). When `cancel` is set a watcher thread ends the job. Returns the exit
// code, or -1 when the child could not start (then `sink` gets one "cannot start" line) or
// `cancel` is set at the end.
int RunProcess(const std::wstring& command_line, const std::filesystem::path& cwd,
               const std::map<std::string, std::string>& env, const LineSink& sink,
               const std::atomic<bool>* cancel);

// Starts a process as CreateProcessW does (the arguments are its own), inside `job` from its
// first instruction, so that a launcher ended at any moment never leaves a child outside the
// job that was to end or count it. Where the system cannot name the job at creation (before
// Windows 10), the process is started suspended and put in the job before it runs. `in_job`
// tells whether it is in `job` (false for a null `job`). False, with GetLastError set, when the
// process could not start.
bool CreateProcessInJob(const wchar_t* application, wchar_t* command_line, bool inherit_handles,
                        DWORD flags, void* environment, const wchar_t* cwd,
                        const STARTUPINFOW& startup, HANDLE job, PROCESS_INFORMATION& info,
                        bool& in_job);

}  // namespace launcher
