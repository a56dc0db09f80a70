// Installing a build tool served from 127.0.0.1: Builder::InstallTool (download into the
// downloads folder with the SHA-256 check, unpack with ExtractTarXz, stamp, remove the
// download) beside `curl -s -o F URL && sha256sum F && tar -xJf F` on the same archive, and
// InstallTool for a tool that is installed already (one small file read).
//
// The archive is LAUNCHER_BENCH_ARCHIVE (a tar.xz; scripts/bench-tools.sh makes one of about
// 600 MB), the output goes below LAUNCHER_BENCH_OUT. Each side runs LAUNCHER_BENCH_RUNS times
// (default 3), alternating, with the previous output removed and the disk synced outside the
// timed part; the best round of each side is shown and the two are compared.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "builder/builder.h"
#include "catalogue/game_description.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/sha.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int Runs() {
  const int runs = std::atoi(Env("LAUNCHER_BENCH_RUNS").c_str());
  return runs > 0 ? runs : 3;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Setup {
  fs::path archive;
  fs::path out;
  launcher::test::HttpServer server;
  std::unique_ptr<launcher::Http> http = launcher::CreateHttp();
  std::unique_ptr<launcher::Platform> platform = launcher::CreatePlatform();
  std::unique_ptr<launcher::Builder> builder;
  launcher::Tool tool;
  std::string error;
};

std::unique_ptr<Setup> setup;

Setup* Bench() {
  if (setup) return setup->error.empty() ? setup.get() : nullptr;
  setup = std::make_unique<Setup>();
  Setup& s = *setup;
  s.archive = Env("LAUNCHER_BENCH_ARCHIVE");
  s.out = Env("LAUNCHER_BENCH_OUT");
  std::error_code ec;
  const uint64_t size = s.archive.empty() ? 0 : fs::file_size(s.archive, ec);
  if (s.out.empty() || ec || size == 0) {
    s.error = "set LAUNCHER_BENCH_ARCHIVE to a tar.xz and LAUNCHER_BENCH_OUT to a folder";
    return nullptr;
  }
  s.server.ServeFile("/tool.tar.xz", s.archive);
  s.tool.id = "bench";
  s.tool.title = "Bench tool";
  s.tool.kind = "tar.xz";
  const std::string digest = launcher::Sha256File(s.archive);
  s.tool.sha256 = digest;
  s.tool.files = {{"tool.tar.xz", s.server.Url("/tool.tar.xz"), digest, size}};
  launcher::GameDescription game;
  s.builder =
      std::make_unique<launcher::Builder>(game, s.out / "launcher", s.http.get(), s.platform.get());
  return &s;
}

// Empties the output and writes what is dirty to the disk, outside the timed part.
void Clean(const Setup& s) {
  std::error_code ec;
  fs::remove_all(s.out, ec);
  fs::create_directories(s.out, ec);
  sync();
}

bool LauncherRound(Setup& s, double& seconds, std::string& error) {
  Clean(s);
  const auto start = Clock::now();
  const bool ok = s.builder->InstallTool(s.tool, error);
  seconds = Seconds(Clock::now() - start);
  return ok;
}

bool ShellRound(Setup& s, double& seconds, std::string& error) {
  Clean(s);
  const fs::path shell = s.out / "shell";
  fs::create_directories(shell);
  const std::string command = "cd '" + shell.string() + "' && curl -s -o tool.tar.xz '" +
                              s.server.Url("/tool.tar.xz") +
                              "' && sha256sum tool.tar.xz >tool.sha256 && tar -xJf tool.tar.xz";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  seconds = Seconds(Clock::now() - start);
  const std::string sum = launcher::test::ReadFile(shell / "tool.sha256");
  if (status != 0 || sum.compare(0, 64, s.tool.sha256) != 0) {
    error = "curl, sha256sum or tar failed (status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

struct Side {
  const char* name;
  bool launcher;
  std::vector<double> times;
};

void RunSide(benchmark::State& state, Side* side) {
  Setup* s = Bench();
  if (!s) {
    state.SkipWithError(setup->error.c_str());
    return;
  }
  for (auto _ : state) {
    std::string error;
    double seconds = 0;
    const bool ok =
        side->launcher ? LauncherRound(*s, seconds, error) : ShellRound(*s, seconds, error);
    if (!ok) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(seconds);
    side->times.push_back(seconds);
  }
}

// The cost of asking for a tool that is installed: its stamp read and compared.
void BM_InstalledTool(benchmark::State& state) {
  Setup* s = Bench();
  if (!s) {
    state.SkipWithError(setup->error.c_str());
    return;
  }
  launcher::Tool tool = s->tool;
  tool.id = "installed";
  const fs::path folder = s->builder->ToolFolder(tool.id);
  std::error_code ec;
  fs::create_directories(folder, ec);
  {
    std::FILE* stamp = std::fopen((folder / ".launcher-stamp").c_str(), "wb");
    if (!stamp) {
      state.SkipWithError("cannot write the stamp");
      return;
    }
    std::fwrite(tool.sha256.data(), 1, tool.sha256.size(), stamp);
    std::fclose(stamp);
  }
  const int requests = s->server.TotalCount();
  for (auto _ : state) {
    std::string error;
    benchmark::DoNotOptimize(s->builder->InstallTool(tool, error));
  }
  if (s->server.TotalCount() != requests) state.SkipWithError("an installed tool was fetched");
}

double Best(const std::vector<double>& times) {
  return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Side sides[] = {{"BM_CurlSha256sumTar", false, {}}, {"BM_InstallTool", true, {}}};
  for (int i = 0; i < Runs(); ++i) {
    for (Side& side : sides) {
      benchmark::RegisterBenchmark(side.name, RunSide, &side)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RegisterBenchmark("BM_InstalledTool", BM_InstalledTool)->Unit(benchmark::kMicrosecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (setup) Clean(*setup);
  setup.reset();

  for (const Side& side : sides) {
    if (!side.times.empty()) std::printf("%-22s best %.2f s\n", side.name, Best(side.times));
  }
  const double shell = Best(sides[0].times);
  const double launcher = Best(sides[1].times);
  if (shell <= 0 || launcher <= 0) return 1;
  std::printf("ratio (curl + sha256sum + tar) / InstallTool: %.2fx (goal: at least 1.50x)\n",
              shell / launcher);
  return 0;
}
