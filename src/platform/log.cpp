#include "platform/log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

namespace launcher {
namespace {

struct LogState {
  int64_t start_ns = LogStartClock();
  std::mutex pending_mutex;
  std::string pending;              // finished lines not yet written
  std::atomic<bool> urgent{false};  // an error line is pending
  std::atomic<bool> flusher_started{false};
  std::condition_variable wake;
  std::mutex flush_mutex;  // one flush at a time; taken before pending_mutex
  std::string flushing;    // the batch being written (keeps its capacity between flushes)
  std::ofstream file;      // the optional log file, under flush_mutex
  std::filesystem::path path;
};

// Never destroyed: the detached flusher thread may still wait on it while the process exits.
LogState& State() {
  static LogState* state = new LogState();
  return *state;
}

// The state (and with it the start time) is made during static initialisation.
[[maybe_unused]] const LogState& g_state_at_start = State();

bool Synchronous() {
  static const bool sync = [] {
    const char* value = std::getenv("XBE_LOG_SYNC");
    return value != nullptr && value[0] == '1';
  }();
  return sync;
}

void LogFlusherThread() {
  LogState& s = State();
  for (;;) {
    std::unique_lock<std::mutex> lock(s.pending_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    s.wake.wait_until(lock, deadline, [&] { return s.urgent.load(); });
    s.urgent = false;
    lock.unlock();
    LogFlush();
  }
}

// Starts the flusher; false when the system gives no thread.
bool StartFlusher() {
  try {
    std::thread(LogFlusherThread).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

int64_t LogStartClock() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void LogPrintf(int level, const char* format, ...) {
  if (level < 3) return;
  char message[4096];
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (formatted < 0) message[0] = '\0';

  LogState& s = State();
  const double seconds = static_cast<double>(LogStartClock() - s.start_ns) / 1e9;
  char line[4300];
  const int length = std::snprintf(line, sizeof line, "[%9.3f] %s%s\n", seconds,
                                   level == 3 ? "error: " : "", message);
  if (length < 0) return;
  const size_t size = std::min<size_t>(static_cast<size_t>(length), sizeof line - 1);

  const bool sync = Synchronous();
  bool flush_now = sync;
  {
    std::lock_guard<std::mutex> lock(s.pending_mutex);
    if (!sync && !s.flusher_started) {
      s.flusher_started = StartFlusher();
      if (!s.flusher_started) flush_now = true;  // no thread: write it ourselves
    }
    s.pending.append(line, size);
    if (level == 3) s.urgent = true;
  }
  if (flush_now) {
    LogFlush();
  } else if (level == 3) {
    s.wake.notify_one();
  }
}

void LogFlush() {
  LogState& s = State();
  std::lock_guard<std::mutex> flush_lock(s.flush_mutex);
  s.flushing.clear();
  {
    std::lock_guard<std::mutex> lock(s.pending_mutex);
    s.flushing.swap(s.pending);
  }
  if (s.flushing.empty()) return;
  if (s.file.is_open()) {
    s.file.write(s.flushing.data(), static_cast<std::streamsize>(s.flushing.size()));
    s.file.flush();
  }
  std::fwrite(s.flushing.data(), 1, s.flushing.size(), stderr);
  std::fflush(stderr);
}

void FlushLog() { LogFlush(); }

std::filesystem::path LogRotatedPath(const std::filesystem::path& folder, const std::string& name,
                                     int n) {
  return folder / (name + "." + std::to_string(n) + ".log");
}

bool LogOpen(const std::filesystem::path& folder, const std::string& name, bool rotate) {
  LogState& s = State();
  std::lock_guard<std::mutex> flush_lock(s.flush_mutex);
  if (s.file.is_open()) s.file.close();
  s.path = folder / (name + ".log");
  std::error_code ec;
  if (rotate) {
    std::filesystem::remove(LogRotatedPath(folder, name, 5), ec);
    for (int n = 4; n >= 1; --n) {
      std::filesystem::rename(LogRotatedPath(folder, name, n), LogRotatedPath(folder, name, n + 1),
                              ec);
    }
    std::filesystem::rename(s.path, LogRotatedPath(folder, name, 1), ec);
  }
  s.file.open(s.path, std::ios::binary | (rotate ? std::ios::trunc : std::ios::app));
  if (!s.file.is_open()) {
    s.path.clear();
    return false;
  }
  return true;
}

std::filesystem::path LogPath() {
  LogState& s = State();
  std::lock_guard<std::mutex> flush_lock(s.flush_mutex);
  return s.path;
}

bool LogFlusherStarted() { return State().flusher_started; }

}  // namespace launcher
