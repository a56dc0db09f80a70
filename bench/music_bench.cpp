// The music import's speed beside ffmpeg run by hand. Two measures, one run each:
//   - the first import of 48 songs of 30 s (MP3 tones made by ffmpeg) beside a shell loop that
//     runs the import's own ffprobe and ffmpeg commands on the same songs one after another;
//     the ratio loop / import shows what converting several songs at once gains;
//   - a second import of 500 unchanged songs, which must only move files.
// The songs are made once into LAUNCHER_MUSIC_BENCH_CACHE (default: launcher-music-bench in the
// temporary folder) and kept between runs; everything else goes into a scratch folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "music/ffmpeg_commands.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using launcher::PathToUtf8;

fs::path CacheFolder() {
  const char* named = std::getenv("LAUNCHER_MUSIC_BENCH_CACHE");
  if (named && *named) return named;
  return fs::temp_directory_path() / "launcher-music-bench";
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a bash script (written to a file: a long one does not fit in one argument).
int RunScript(const fs::path& folder, const std::string& script) {
  const fs::path file = folder / "bench-script.sh";
  launcher::test::WriteFile(file, script);
  const int status = std::system(("bash " + Quoted(PathToUtf8(file))).c_str());
  std::error_code ec;
  fs::remove(file, ec);
  return status;
}

std::string Command(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) line += (line.empty() ? "" : " ") + Quoted(arg);
  return line;
}

// `count` tones of `seconds` each in `folder`, in sub-folders of `per_folder` songs, made once
// (a stamp file says the set is complete). Returns false when ffmpeg fails.
bool MakeSongs(const fs::path& folder, int count, int seconds, int per_folder) {
  const fs::path stamp = folder / ".complete";
  std::error_code ec;
  if (fs::exists(stamp, ec)) return true;
  fs::remove_all(folder, ec);
  std::printf("music bench: making %d songs of %d s in %s\n", count, seconds,
              PathToUtf8(folder).c_str());
  std::fflush(stdout);
  std::string script;
  for (int i = 0; i < count; ++i) {
    const fs::path sub = folder / ("Album " + std::to_string(i / per_folder));
    fs::create_directories(sub, ec);
    const std::string tone = "sine=frequency=" + std::to_string(220 + 7 * i) +
                             ":duration=" + std::to_string(seconds);
    script += Command({"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i", tone,
                       "-metadata", "title=Tone " + std::to_string(i), "-metadata",
                       "artist=Bench", PathToUtf8(sub / ("song " + std::to_string(i) + ".mp3"))}) +
              " &\n";
    if (i % 8 == 7) script += "wait\n";
  }
  script += "wait\n";
  if (RunScript(folder, script) != 0) return false;
  launcher::test::WriteFile(stamp, "");
  return true;
}

std::vector<fs::path> SongsIn(const fs::path& folder) {
  std::vector<fs::path> songs;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->path().extension() == ".mp3") songs.push_back(it->path());
  }
  return songs;
}

// The import's commands for every song, run by bash one after another.
bool ShellLoop(const std::vector<fs::path>& songs, const fs::path& out, double& seconds) {
  std::error_code ec;
  fs::create_directories(out, ec);
  std::string script = "set -e\n";
  for (std::size_t i = 0; i < songs.size(); ++i) {
    const std::string source = PathToUtf8(songs[i]);
    script += Command(launcher::ProbeCommand("ffprobe", source)) + " >/dev/null\n";
    script += Command(launcher::ConvertCommand(
                  "ffmpeg", source, PathToUtf8(out / (std::to_string(i) + ".WMA")))) +
              "\n";
  }
  const auto start = Clock::now();
  const int status = RunScript(out, script);
  seconds = Seconds(Clock::now() - start);
  return status == 0;
}

struct Import {
  launcher::test::ScratchDir scratch;
  std::unique_ptr<launcher::Http> http = launcher::CreateHttp();
  std::unique_ptr<launcher::Platform> platform = launcher::CreatePlatform();
  std::unique_ptr<launcher::Builder> builder;
  std::string last_log;

  Import() {
    launcher::GameDescription game;
    game.short_name = "Halvorn";
    game.exe = "Halvorn";
    builder = std::make_unique<launcher::Builder>(game, scratch / "Halvorn", http.get(),
                                                  platform.get());
    builder->log_callback = [this](const std::string& line) { last_log = line; };
  }

  bool Run(const fs::path& music, double& seconds) {
    std::string summary;
    std::string error;
    const auto start = Clock::now();
    const bool ok = builder->ImportMusic(music, summary, error);
    seconds = Seconds(Clock::now() - start);
    if (!ok) std::fprintf(stderr, "music bench: the import failed: %s\n", error.c_str());
    return ok;
  }
};

}  // namespace

int main() {
  const fs::path cache = CacheFolder();
  const fs::path long_songs = cache / "48 songs of 30 s";
  const fs::path many_songs = cache / "500 songs of 1 s";
  if (!MakeSongs(long_songs, 48, 30, 12) || !MakeSongs(many_songs, 500, 1, 100)) {
    std::fprintf(stderr, "music bench: ffmpeg could not make the songs\n");
    return 1;
  }
  std::printf("%u logical processors, load average before: ", std::thread::hardware_concurrency());
  std::fflush(stdout);
  std::system("cut -d' ' -f1-3 /proc/loadavg");

  // First import of 48 songs against the loop.
  launcher::test::ScratchDir loop_out;
  double loop = 0;
  if (!ShellLoop(SongsIn(long_songs), loop_out.path(), loop)) {
    std::fprintf(stderr, "music bench: the shell loop failed\n");
    return 1;
  }
  Import first;
  double import = 0;
  if (!first.Run(long_songs, import)) return 1;
  std::printf("48 songs of 30 s: shell loop %.2f s, first import %.2f s, ratio %.2fx\n", loop,
              import, loop / import);
  std::printf("  %s\n", first.last_log.c_str());

  // A second import of 500 unchanged songs: renames only.
  Import many;
  double made = 0;
  double again = 0;
  if (!many.Run(many_songs, made)) return 1;
  if (!many.Run(many_songs, again)) return 1;
  std::printf("500 songs: first import %.2f s, second import (unchanged) %.3f s\n", made, again);
  std::printf("  %s\n", many.last_log.c_str());
  return 0;
}
