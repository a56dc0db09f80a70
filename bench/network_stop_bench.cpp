// How soon a stop ends a network wait: Http::Get, FetchText and Download against a server on
// 127.0.0.1 that accepts and never answers, one that stalls after the first MiB of a body, and a
// host name whose lookup never ends (a name server that takes queries and never answers, in
// network and mount namespaces of the benchmark's own: the benchmark runs itself again inside
// them where the system allows it, and otherwise leaves those cases out and says why). Each
// round starts the call, sets the cancel flag 300 ms after the server has the request (or the
// name server the query; and, mid-body, once the first MiB is in) and times the call's end from
// the stop. The promise is within 1 s; each benchmark reports its slowest round ("worst_ms") and
// fails when any round took longer. LAUNCHER_NETWORK_STOP_BENCH_ROUNDS sets the rounds (default
// 10).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/download.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/silent_names.h"

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

// What keeps the call waiting.
enum class Wait { kNeverAnswered, kStalledMidBody, kNameNeverAnswered };

void Stop(benchmark::State& state, Operation operation, Wait wait) {
  HttpServer server;
  Reply reply;
  if (wait == Wait::kStalledMidBody) {
    reply.body = std::string(4 * kMiB, 'b');
    reply.stall_after = kMiB;
  } else {
    reply.silent = true;
  }
  server.Route("/slow", reply);
  const std::string url = wait == Wait::kNameNeverAnswered
                              ? std::string("http://") + launcher::test::kSilentHost + "/slow"
                              : server.Url("/slow");
  const std::unique_ptr<launcher::Http> http = launcher::CreateHttp();
  launcher::test::ScratchDir dir;
  // FetchText hands over nothing before its end, so mid-body it is stopped 300 ms after the
  // request only.
  const uint64_t wanted =
      wait == Wait::kStalledMidBody && operation != Operation::kFetchText ? kMiB : 0;

  std::chrono::milliseconds worst{0};
  for (auto _ : state) {
    server.ClearRecords();
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> received{0};
    std::string error;
    const int asked = launcher::test::NameQueries();
    const auto waiting = [&] {
      if (wait == Wait::kNameNeverAnswered) return launcher::test::NameQueries() > asked;
      return server.Count("/slow") > 0 && received >= wanted;
    };
    const auto stop_to_end = launcher::test::RunAndStop(
        [&] { Call(operation, *http, url, dir / "file.bin", received, cancel, error); }, cancel,
        waiting, std::chrono::milliseconds(300));
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
  // The lookups that never end need the namespaces: run there, whole, where they can be made.
  if (!launcher::test::InsideSilentNames()) {
    std::vector<std::string> command(argv, argv + argc);
    command[0] = launcher::PathToUtf8(launcher::test::SelfPath());
    const launcher::test::SilentNamesRun run = launcher::test::RunWithSilentNames(command);
    if (run.unavailable.empty()) {
      std::cout << run.output;
      return run.code;
    }
    std::cout << "without the lookups that never end: " << run.unavailable << "\n";
  }
  benchmark::Initialize(&argc, argv);
  const struct {
    const char* name;
    Operation operation;
  } operations[] = {{"Get", Operation::kGet},
                    {"FetchText", Operation::kFetchText},
                    {"Download", Operation::kDownload}};
  const struct {
    const char* name;
    Wait wait;
  } waits[] = {{"_NeverAnswered", Wait::kNeverAnswered},
               {"_StalledMidBody", Wait::kStalledMidBody},
               {"_NameNeverAnswered", Wait::kNameNeverAnswered}};
  for (const auto& o : operations) {
    for (const auto& w : waits) {
      if (w.wait == Wait::kNameNeverAnswered && !launcher::test::InsideSilentNames()) continue;
      const std::string name = std::string("BM_Stop") + o.name + w.name;
      benchmark::RegisterBenchmark(
          name.c_str(), [o, w](benchmark::State& state) { Stop(state, o.operation, w.wait); })
          ->Iterations(Rounds())
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
