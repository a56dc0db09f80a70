// Times the unpackers on real archives named on the command line (scripts/bench-archives.sh
// makes them and sets the tools beside them):
//   archive_bench [benchmark flags] ARCHIVE.tar.xz... ARCHIVE.zip...
// Each run unpacks into a fresh folder under $LAUNCHER_BENCH_OUT (default: the system's
// temporary folder) through a keep-list mapper like the tools' entry-name rules: the first
// component is stripped and an entry is kept when the rest starts with one of the
// comma-separated prefixes of $LAUNCHER_BENCH_KEEP (all entries when it is empty).
#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/tar_xz.h"
#include "platform/zip.h"

namespace {
namespace fs = std::filesystem;

std::vector<std::string> KeepList() {
  std::vector<std::string> keep;
  const char* text = std::getenv("LAUNCHER_BENCH_KEEP");
  std::string rest = text != nullptr ? text : "";
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    keep.push_back(rest.substr(0, comma));
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
  }
  return keep;
}

launcher::NameMapper KeepListMapper() {
  return [keep = KeepList()](const std::string& name) -> std::string {
    const size_t slash = name.find('/');
    if (slash == std::string::npos) return "";
    std::string rest = name.substr(slash + 1);
    if (keep.empty()) return rest;
    for (const std::string& prefix : keep) {
      if (rest.compare(0, prefix.size(), prefix) == 0) return rest;
    }
    return "";
  };
}

fs::path OutputFolder() {
  const char* out = std::getenv("LAUNCHER_BENCH_OUT");
  return fs::path(out != nullptr ? out : fs::temp_directory_path().string()) /
         ("archive-bench-" + std::to_string(::getpid()));
}

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void Unpack(benchmark::State& state, const fs::path& archive, bool tar) {
  const fs::path out = OutputFolder();
  const launcher::NameMapper mapper = KeepListMapper();
  std::atomic<bool> cancel{false};
  uint64_t reports = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::error_code ec;
    fs::remove_all(out, ec);
    ::sync();  // the write-back of the last run must not fall into this one
    state.ResumeTiming();
    std::string error;
    const auto progress = [&](uint64_t, uint64_t) { ++reports; };
    const bool ok = tar ? launcher::ExtractTarXz(archive, out, mapper, progress, &cancel, error)
                        : launcher::ExtractZip(archive, out, mapper, progress, &cancel, error);
    if (!ok) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  std::error_code ec;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(archive, ec)));
  state.counters["peak_rss_MiB"] = PeakMiB();
  state.counters["progress_reports"] = static_cast<double>(reports);
  fs::remove_all(out, ec);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [benchmark flags] ARCHIVE.tar.xz|ARCHIVE.zip...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const fs::path archive = fs::absolute(argv[i]);
    const std::string name = archive.filename().string();
    const bool tar = name.size() > 7 && name.compare(name.size() - 7, 7, ".tar.xz") == 0;
    benchmark::RegisterBenchmark(((tar ? "ExtractTarXz/" : "ExtractZip/") + name).c_str(),
                                 [archive, tar](benchmark::State& state) {
                                   Unpack(state, archive, tar);
                                 })
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
