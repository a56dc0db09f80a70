// A small leveled log writer for low-level code that must never block on output. Lines are
// time-stamped, collected in memory and written to standard error by a background flusher
// thread (every 250 ms, at once for an error line). Levels below 3 are dropped, 3 is an error,
// 4 and above a normal line. With XBE_LOG_SYNC beginning with "1" (read once per process) every
// line is written by the caller before LogPrintf returns and no thread is started.
// Lines still pending when the process ends are not written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#if defined(__GNUC__) && !defined(__clang__)
#define LAUNCHER_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__clang__)
#define LAUNCHER_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define LAUNCHER_PRINTF_FORMAT(f, a)
#endif

namespace launcher {

// Formats one line "[seconds] message" ("[seconds] error: message" at level 3) and queues it.
// Messages longer than 4095 bytes are cut. Safe from any thread.
void LogPrintf(int level, const char* format, ...) LAUNCHER_PRINTF_FORMAT(2, 3);

// Writes the pending lines now (to the log file, when one is open, then to standard error).
void LogFlush();
// The same as LogFlush.
void FlushLog();

// The steady clock in nanoseconds; the log's time stamps count from its reading at start-up.
int64_t LogStartClock();

// The optional log file: folder/name.log, appended to; with `rotate`, name.log becomes
// name.1.log (name.1 becomes name.2 ... up to name.5, the oldest is deleted) and a fresh file is
// started. False when the file cannot be opened. Every flushed batch goes to it first.
bool LogOpen(const std::filesystem::path& folder, const std::string& name, bool rotate);
// folder/name.<n>.log
std::filesystem::path LogRotatedPath(const std::filesystem::path& folder, const std::string& name,
                                     int n);
// The open log file's path, or empty.
std::filesystem::path LogPath();

// Whether the flusher thread has been started in this process (for tests and diagnostics).
bool LogFlusherStarted();

}  // namespace launcher
