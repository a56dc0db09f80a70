// The Builder itself: its construction, the launcher log, progress reports, timed stages and the
// byte-size text.
#include "builder/builder.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <system_error>
#include <thread>

#include "platform/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The local time formatted with strftime; "" when the local time cannot be had.
std::string LocalTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  {
    // std::localtime hands out one shared buffer on some systems.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    const std::tm* local = std::localtime(&now);
    if (!local) return "";
    parts = *local;
  }
  char text[64];
  const size_t length = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, length);
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  const int length = std::snprintf(text, sizeof text, format, args...);
  if (length <= 0) return "";
  return std::string(text, std::min(static_cast<size_t>(length), sizeof text - 1));
}

}  // namespace

Builder::Builder(const GameDescription& game, const fs::path& root, Http* http,
                 Platform* platform)
    : game(game), root(root), http(http), platform(platform) {
  disk_flush = {FlushFilesBeneath, FlushFolder};
  // Before anything asks whether the game is in place: a package install ended in the middle
  // of its swap (a kill, a crash, a power cut) leaves a mix of two versions.
  MendUnfinishedSwap();
}

void AppendLauncherLog(const fs::path& root, const std::string& line) {
  std::error_code ec;
  fs::create_directories(root, ec);
  const std::string stamp = LocalTimeText("%H:%M:%S ");
  // Text mode: a line ends in CR LF on Windows. Opened per line, so nothing stays open.
  std::ofstream out(root / "launcher.log", std::ios::out | std::ios::app);
  if (out) out << stamp << line << '\n';
}

void Builder::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(log_mutex);
  AppendLauncherLog(root, line);
  if (log_callback) log_callback(line);
}

void Builder::LogBuildStart() {
  stage_times.clear();
  Log("build started " + LocalTimeText("%Y-%m-%d") + ", " +
      std::to_string(std::thread::hardware_concurrency()) + " logical processors");
}

bool Builder::RunStage(const std::string& name, const std::function<bool()>& body) {
  stage_note.clear();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = body();
  const auto end = std::chrono::steady_clock::now();
  const double seconds =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) /
      1e9;
  const std::string note = stage_note.empty() ? "" : " (" + stage_note + ")";
  stage_times.push_back({name, seconds});
  Log("stage " + name + ": " + Format("%.1f s", seconds) + note + (ok ? "" : " (stopped)"));
  return ok;
}

void Builder::LogTimings() {
  double total = 0;
  for (const StageTime& stage : stage_times) total += stage.seconds;
  Log(Format("timing: %zu stages, %.1f s in all", stage_times.size(), total));
  for (const StageTime& stage : stage_times) {
    const double share = total > 0 ? stage.seconds * 100 / total : 0;
    Log("timing: " + Format("%9.1f s %5.1f%%  ", stage.seconds, share) + stage.name);
  }
}

void Builder::Progress(const std::string& title, const std::string& detail, double fraction) {
  if (!status_callback) return;
  status_callback(Status{title, detail, fraction});
}

}  // namespace launcher
