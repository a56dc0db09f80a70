// How soon a stop ends a network wait: Http::Get, FetchText and Download against a server on
// 127.0.0.1 that accepts and never answers, and one that stalls after the first MiB of a body.
// Each round starts the call, sets the cancel flag 300 ms after the server has the request (and,
// mid-body, once the first MiB is in) and times the call's end from the stop. The promise is
// within 1 s; each benchmark reports its slowest round ("worst_ms") and fails when any round took
// longer. LAUNCHER_NETWORK_STOP_BENCH_ROUNDS sets the rounds (default 10).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/download.h"
#include "platform/http.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using launcher::test::HttpServer;
using launcher::test::Reply;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr auto kPromise = std::chrono::milliseconds(1000);

int Rounds() {
  const char* text = std::getenv("LAUNCHER_NETWORK_STOP_BENCH_ROUNDS");
  const int rounds = text ? std::atoi(text) : 10;
  return rounds > 0 ? rounds : 10;
}

enum class Operation { kGet, kFetchText, kDownload };

// One call of `operation` against `url`; `received` counts the bytes that reached the caller.
bool Call(Operation operation, launcher::Http& http, const std::string& url, const fs::path& dest,
          std::atomic<uint64_t>& received, std::atomic<bool>& cancel, std::string& error) {
  switch (operation) {
    case Operation::kGet: {
      const launcher::BodySink sink = [&](const uint8_t*, uint64_t size) {
        received += size;
        return true;
      };
      return http.Get(url, 0, sink, nullptr, error, &cancel);
    }
    case Operation::kFetchText: {
      std::string out;
      return launcher::FetchText(http, url, out, error, &cancel);
    }
    case Operation::kDownload: {
      const launcher::ProgressFn progress = [&](uint64_t done, uint64_t) { received = done; };
      std::error_code ec;
      fs::remove(fs::path(dest).concat(".part"), ec);
      return launcher::Download(http, url, dest, "", 4 * kMiB, progress, &cancel, error);
    }
  }
  return false;
}

void Stop(benchmark::State& state, Operation operation, bool mid_body) {
  HttpServer server;
  Reply reply;
  if (mid_body) {
    reply.body = std::string(4 * kMiB, 'b');
    reply.stall_after = kMiB;
  } else {
    reply.silent = true;
  }
  server.Route("/slow", reply);
  const std::unique_ptr<launcher::Http> http = launcher::CreateHttp();
  launcher::test::ScratchDir dir;
  // FetchText hands over nothing before its end, so mid-body it is stopped 300 ms after the
  // request only.
  const uint64_t wanted = mid_body && operation != Operation::kFetchText ? kMiB : 0;

  std::chrono::milliseconds worst{0};
  for (auto _ : state) {
    server.ClearRecords();
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> received{0};
    std::string error;
    const auto stop_to_end = launcher::test::RunAndStop(
        [&] {
          Call(operation, *http, server.Url("/slow"), dir / "file.bin", received, cancel, error);
        },
        cancel, [&] { return server.Count("/slow") > 0 && received >= wanted; },
        std::chrono::milliseconds(300));
    if (!stop_to_end || error != launcher::kCancelled) {
      state.SkipWithError(("the call was not stopped: " + error).c_str());
      return;
    }
    worst = std::max(worst, *stop_to_end);
    state.SetIterationTime(std::chrono::duration<double>(*stop_to_end).count());
  }
  state.counters["worst_ms"] = static_cast<double>(worst.count());
  if (worst > kPromise) {
    state.SkipWithError(("a stop took " + std::to_string(worst.count()) + " ms").c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const struct {
    const char* name;
    Operation operation;
  } operations[] = {{"Get", Operation::kGet},
                    {"FetchText", Operation::kFetchText},
                    {"Download", Operation::kDownload}};
  for (const auto& o : operations) {
    for (const bool mid_body : {false, true}) {
      const std::string name =
          std::string("BM_Stop") + o.name + (mid_body ? "_StalledMidBody" : "_NeverAnswered");
      benchmark::RegisterBenchmark(
          name.c_str(),
          [o, mid_body](benchmark::State& state) { Stop(state, o.operation, mid_body); })
          ->Iterations(Rounds())
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
