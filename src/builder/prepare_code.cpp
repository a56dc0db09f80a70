// The next-to-last stage of a package install: the staged game prepares its code from the
// player's disc ("--prepare-code"); replace_game.cpp then puts the staged entries in place.
#include <cstdio>
#include <vector>

#include "builder/builder.h"
#include "platform/ascii.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// ", under a minute left" or ", about N min left" for the work still to do at the rate so far;
// "" in the first 5 seconds or before any work is done.
std::string TimeLeft(double elapsed, uint64_t work_done, uint64_t work_total) {
  if (elapsed <= 5 || work_done == 0) return "";
  // More work done than announced counts as none left.
  const uint64_t remaining = work_done < work_total ? work_total - work_done : 0;
  const double estimate = elapsed * static_cast<double>(remaining) /
                              static_cast<double>(work_done) + 0.5;
  if (estimate < 60) return ", under a minute left";
  // Far beyond any real build; keeps the conversion to an integer defined.
  const uint64_t seconds = estimate < 1e15 ? static_cast<uint64_t>(estimate) : 1000000000000000;
  return ", about " + std::to_string((seconds + 30) / 60) + " min left";
}

}  // namespace

bool Builder::PrepareGameCode(const fs::path& next, std::string& kept_error) {
  const std::string title = "Building " + game.title + " for this PC";
  Progress(title, "Starting", -1);
  const int64_t start = NowNs();
  const std::vector<std::string> args = {PathToUtf8(next / GameExe().filename()),
                                         "--prepare-code"};
  const LineSink sink = [&](const std::string& line) {
    HandlePrepareLine(line, start, NowNs(), kept_error);
  };
  return platform->Run(args, next, {}, sink, &cancel) == 0;
}

void Builder::HandlePrepareLine(const std::string& line, int64_t start_ns, int64_t now_ns,
                                std::string& kept_error) {
  if (line.size() > 8 && StartsWith(line, "progress ")) {
    int phase = 0;
    unsigned long long files_done = 0, files_total = 0, work_done = 0, work_total = 0;
    if (std::sscanf(line.c_str(), "progress %d %llu %llu %llu %llu", &phase, &files_done,
                    &files_total, &work_done, &work_total) != 5 ||
        files_total == 0) {
      return;
    }
    std::string detail;
    if (files_done < files_total) {
      const double elapsed = static_cast<double>(now_ns - start_ns) / 1e9;
      detail = std::to_string(files_done) + " of " + std::to_string(files_total) + " files" +
               TimeLeft(elapsed, work_done, work_total);
    } else {
      detail = "Finishing the build";
    }
    const double fraction = work_total == 0 ? -1.0
                                            : static_cast<double>(work_done) /
                                                  static_cast<double>(work_total);
    Progress("Building " + game.title + " for this PC", detail, fraction);
    return;
  }
  if (StartsWith(line, "[")) {
    // The game's trace lines: only the summaries of its code are worth the log.
    if (line.size() >= 10 && line.find("Game code:") != std::string::npos) Log("game: " + line);
  } else {
    Log("game: " + line);
  }
  if (StartsWith(line, "failed ")) kept_error = line.substr(7);
}

}  // namespace launcher
