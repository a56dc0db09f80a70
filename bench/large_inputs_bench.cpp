// Large inputs through the launcher's readers, one run each, with the peak memory of the
// process (each case is meant to run in a process of its own: scripts/bench-large.sh does so).
// The inputs are made by the script in LAUNCHER_LARGE_INPUTS:
//   files.tar.xz   100,000 small files          entries.zip   70,000 entries
//   music/         10,000 audio files to scan
// The disc case makes disc.iso there itself, a sparse image of 7.3 GB; the log case writes
// 100,000 lines through the Builder's log.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "catalogue/game_copy.h"
#include "music/music_scan.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/tar_xz.h"
#include "platform/zip.h"
#include "support/disc_image_writer.h"
#include "support/scratch.h"

namespace {
namespace fs = std::filesystem;
using namespace launcher;

fs::path Inputs() {
  const char* folder = std::getenv("LAUNCHER_LARGE_INPUTS");
  return folder != nullptr ? fs::path(folder) : fs::temp_directory_path() / "launcher-large";
}

// The process's peak resident memory so far, in MiB.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

void Report(benchmark::State& state, bool ok, const std::string& error) {
  if (!ok) state.SkipWithError(error.c_str());
  state.counters["peak_MiB"] = PeakMiB();
}

std::string Same(const std::string& name) { return name; }

void TarXz100k(benchmark::State& state) {
  std::string error;
  bool ok = true;
  test::ScratchDir out;  // removed after the timing
  for (auto _ : state) {
    ok = ExtractTarXz(Inputs() / "files.tar.xz", out.path(), Same, nullptr, nullptr, error);
  }
  Report(state, ok, error);
}

void Zip70k(benchmark::State& state) {
  std::string error;
  bool ok = true;
  test::ScratchDir out;
  for (auto _ : state) {
    ok = ExtractZip(Inputs() / "entries.zip", out.path(), Same, nullptr, nullptr, error);
  }
  Report(state, ok, error);
}

void MusicScan10k(benchmark::State& state) {
  size_t songs = 0;
  size_t warnings_count = 0;
  for (auto _ : state) {
    std::vector<std::string> warnings;
    const std::vector<Soundtrack> list = ScanMusicFolder(Inputs() / "music", warnings);
    songs = 0;
    for (const Soundtrack& soundtrack : list) songs += soundtrack.songs.size();
    warnings_count = warnings.size();
  }
  state.counters["songs"] = double(songs);
  state.counters["warnings"] = double(warnings_count);
  Report(state, songs > 0, "no songs found");
}

void DiscImage7GB(benchmark::State& state) {
  // The whole disc's layout (the video partition a hole, then the game's), grown to the size
  // of a full dual-layer image without writing the rest.
  const fs::path image = Inputs() / "disc.iso";
  test::DiscImageWriter disc;
  disc.AddFile("default.xbe", "XBEH" + std::string(4 << 20, 'x'));
  disc.AddFile("media\\music.xwm", std::string(1 << 20, 'm'));
  if (!disc.WriteWholeDisc(image)) return Report(state, false, "cannot write the image");
  std::error_code ec;
  fs::resize_file(image, uint64_t(7300) << 20, ec);

  GameDescription game;
  game.xbe = "default.xbe";
  game.xbes = {"default.xbe"};
  GameCopy copy;
  for (auto _ : state) copy = IdentifyGameCopy(game, Inputs() / "disc.iso");
  // The image's XBE names no release of this description: reaching that verdict means the
  // image was opened, walked and its XBE read.
  Report(state, !copy.sha1.empty(), copy.message);
}

void Log100k(benchmark::State& state) {
  test::ScratchDir root;
  GameDescription game;
  const std::unique_ptr<Http> http = CreateHttp();
  const std::unique_ptr<Platform> platform = CreatePlatform();
  Builder builder(game, root.path(), http.get(), platform.get());
  size_t seen = 0;
  builder.log_callback = [&seen](const std::string&) { ++seen; };
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) builder.Log("line " + std::to_string(i) + " of the log");
  }
  Report(state, seen == 100000, "lines went missing");
}

BENCHMARK(TarXz100k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Zip70k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MusicScan10k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DiscImage7GB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Log100k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
