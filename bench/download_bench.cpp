// A 1 GiB download over 127.0.0.1: the launcher's Download (transfer to the ".part" file, then
// its SHA-256 check and the move into place) beside `curl -s -o FILE URL` followed by
// `sha256sum FILE`, the same file served by the tests' HTTP server; and, to show where the time
// goes, each transfer alone (Download without a digest, curl without sha256sum). Each side runs
// LAUNCHER_DOWNLOAD_BENCH_ROUNDS times (default 3), alternating; the best round of each is
// shown and the first two are compared. The source file is LAUNCHER_DOWNLOAD_BENCH_FILE, or
// launcher-download-bench-1GiB.bin in the temporary folder, written once when missing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/download.h"
#include "platform/http.h"
#include "platform/sha.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kFileSize = uint64_t{1} << 30;

fs::path SourcePath() {
  const char* named = std::getenv("LAUNCHER_DOWNLOAD_BENCH_FILE");
  if (named && *named) return named;
  return fs::temp_directory_path() / "launcher-download-bench-1GiB.bin";
}

int Rounds() {
  const char* text = std::getenv("LAUNCHER_DOWNLOAD_BENCH_ROUNDS");
  const int rounds = text ? std::atoi(text) : 3;
  return rounds > 0 ? rounds : 3;
}

// The source file, written 1 MiB at a time from a xorshift stream when missing.
fs::path PreparedSource() {
  const fs::path file = SourcePath();
  std::error_code ec;
  if (fs::file_size(file, ec) == kFileSize && !ec) return file;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  std::vector<uint32_t> chunk((size_t{1} << 20) / sizeof(uint32_t));
  uint32_t x = 2463534242u;
  for (uint64_t written = 0; written < kFileSize; written += chunk.size() * sizeof(uint32_t)) {
    for (uint32_t& word : chunk) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      word = x;
    }
    out.write(reinterpret_cast<const char*>(chunk.data()),
              static_cast<std::streamsize>(chunk.size() * sizeof(uint32_t)));
  }
  if (!out.good()) return {};
  return file;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The timed rounds of one side: transfer and check, or the transfer alone.
struct Side {
  const char* name;
  bool with_digest;
  bool launcher;
  std::vector<double> times;
};

struct Setup {
  fs::path source;
  std::string digest;
  launcher::test::HttpServer server;
  launcher::test::ScratchDir out;
  std::unique_ptr<launcher::Http> http = launcher::CreateHttp();
};

std::unique_ptr<Setup> setup;

Setup& Bench() {
  if (!setup) {
    setup = std::make_unique<Setup>();
    setup->source = PreparedSource();
    setup->digest = launcher::Sha256File(setup->source);
    setup->server.ServeFile("/big.bin", setup->source);
  }
  return *setup;
}

// One download with the launcher; the time covers Download only (not the clean-up).
bool LauncherRound(Setup& s, bool with_digest, double& seconds, std::string& error) {
  const fs::path dest = s.out / "launcher.bin";
  const auto start = Clock::now();
  const bool ok = launcher::Download(*s.http, s.server.Url("/big.bin"), dest,
                                     with_digest ? s.digest : "", kFileSize, {}, nullptr, error);
  seconds = Seconds(Clock::now() - start);
  std::error_code ec;
  if (ok && fs::file_size(dest, ec) != kFileSize) {
    error = "the download has the wrong size";
    return false;
  }
  fs::remove(dest, ec);
  return ok;
}

// One download with curl, then sha256sum when `with_digest`.
bool CurlRound(Setup& s, bool with_digest, double& seconds, std::string& error) {
  const fs::path dest = s.out / "curl.bin";
  const fs::path sum = s.out / "curl.sha256";
  std::string command = "curl -s -o '" + dest.string() + "' '" + s.server.Url("/big.bin") + "'";
  if (with_digest) command += " && sha256sum '" + dest.string() + "' > '" + sum.string() + "'";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  seconds = Seconds(Clock::now() - start);
  std::error_code ec;
  const bool sized = fs::file_size(dest, ec) == kFileSize;
  const bool summed = !with_digest || launcher::test::ReadFile(sum).compare(0, 64, s.digest) == 0;
  fs::remove(dest, ec);
  if (status != 0 || !sized || !summed) {
    error = "curl or sha256sum failed (status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

void Run(benchmark::State& state, Side* side) {
  Setup& s = Bench();
  if (s.source.empty()) {
    state.SkipWithError("cannot write the 1 GiB source file");
    return;
  }
  for (auto _ : state) {
    std::string error;
    double seconds = 0;
    const bool ok = side->launcher ? LauncherRound(s, side->with_digest, seconds, error)
                                   : CurlRound(s, side->with_digest, seconds, error);
    if (!ok) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(seconds);
    side->times.push_back(seconds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

double Best(const std::vector<double>& times) {
  return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Side sides[] = {{"BM_CurlThenSha256sum", true, false, {}},
                  {"BM_LauncherDownload", true, true, {}},
                  {"BM_CurlOnly", false, false, {}},
                  {"BM_LauncherTransferOnly", false, true, {}}};
  // Alternate the sides so that none of them gets a warmer machine throughout.
  const int rounds = Rounds();
  for (int i = 0; i < rounds; ++i) {
    for (Side& side : sides) {
      benchmark::RegisterBenchmark(side.name, Run, &side)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  setup.reset();  // stops the server, removes the scratch folder

  const double mib = static_cast<double>(kFileSize) / (1 << 20);
  for (const Side& side : sides) {
    const double best = Best(side.times);
    if (best > 0) std::printf("%-24s best %.3f s (%.0f MiB/s)\n", side.name, best, mib / best);
  }
  const double launcher = Best(sides[1].times);
  const double curl = Best(sides[0].times);
  if (launcher <= 0 || curl <= 0) return 1;
  std::printf("ratio launcher Download / (curl + sha256sum): %.2f (%s)\n", launcher / curl,
              launcher <= curl ? "launcher at least as fast" : "launcher slower");
  return 0;
}
