// Throughput of SHA-256 and SHA-1 over a 512 MiB file, with the CPU's SHA instructions and with
// the portable code. The file is LAUNCHER_SHA_BENCH_FILE, or launcher-sha-bench-512MiB.bin in
// the temporary folder; it is written once when missing or of another size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/sha.h"
#include "platform/sha_blocks.h"

namespace {

namespace fs = std::filesystem;
using launcher::Sha1;
using launcher::Sha256File;

constexpr uint64_t kFileSize = uint64_t{512} << 20;
constexpr size_t kBufferSize = size_t{1} << 20;

fs::path BenchFile() {
  const char* named = std::getenv("LAUNCHER_SHA_BENCH_FILE");
  if (named && *named) return named;
  return fs::temp_directory_path() / "launcher-sha-bench-512MiB.bin";
}

// The benchmark file, written on first use; "" when it cannot be written.
const fs::path& PreparedFile() {
  static const fs::path path = [] {
    const fs::path file = BenchFile();
    std::error_code ec;
    if (fs::file_size(file, ec) == kFileSize && !ec) return file;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(kBufferSize);
    uint32_t x = 2463534242u;  // xorshift: bytes without structure, written 1 MiB at a time
    for (uint64_t written = 0; out && written < kFileSize; written += chunk.size()) {
      for (char& byte : chunk) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<char>(x);
      }
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    out.close();
    return out ? file : fs::path();
  }();
  return path;
}

// SHA-1 of a file, streamed the same way as Sha256File.
std::string Sha1File(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::vector<char> buffer(kBufferSize);
  Sha1 sha;
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) {
      sha.Update(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got));
    }
    if (!in) break;
  }
  return sha.FinalHex();
}

enum class Code { kAccelerated, kPortable };

// Runs `hash` over the file with the chosen block code; reports the bytes hashed.
template <typename HashFn>
void HashFile(benchmark::State& state, Code code, HashFn hash) {
  const fs::path& file = PreparedFile();
  if (file.empty()) {
    state.SkipWithError("cannot write the benchmark file");
    return;
  }
  if (code == Code::kAccelerated && !launcher::sha_blocks::Sha256Accelerated()) {
    state.SkipWithError("this CPU has no SHA instructions");
    return;
  }
  launcher::sha_blocks::UsePortable(code == Code::kPortable);
  for (auto _ : state) {
    const std::string digest = hash(file);
    if (digest.empty()) {
      state.SkipWithError("cannot read the benchmark file");
      break;
    }
    benchmark::DoNotOptimize(digest.data());
  }
  launcher::sha_blocks::UsePortable(false);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Sha256File(benchmark::State& state, Code code) {
  HashFile(state, code, [](const fs::path& path) { return Sha256File(path); });
}

void BM_Sha1File(benchmark::State& state, Code code) {
  HashFile(state, code, [](const fs::path& path) { return Sha1File(path); });
}

BENCHMARK_CAPTURE(BM_Sha256File, accelerated, Code::kAccelerated)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Sha1File, accelerated, Code::kAccelerated)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Sha256File, portable, Code::kPortable)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Sha1File, portable, Code::kPortable)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
