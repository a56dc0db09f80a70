#include "platform/sha.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/sha_blocks.h"

namespace launcher {
namespace {

using sha_blocks::Sha1BlocksFn;
using sha_blocks::Sha256BlocksFn;

constexpr size_t kBlockSize = 64;
constexpr size_t kFileBufferSize = 1 << 20;  // 1 MiB

// The block code is picked on first use: each pointer starts at a function that resolves the
// choice, stores it and runs it. Constant initialisation keeps this safe for digests computed
// during the start-up of other files' statics.
void Sha1Resolve(uint32_t* state, const uint8_t* blocks, size_t count);
void Sha256Resolve(uint32_t* state, const uint8_t* blocks, size_t count);

std::atomic<Sha1BlocksFn> g_sha1{&Sha1Resolve};
std::atomic<Sha256BlocksFn> g_sha256{&Sha256Resolve};

Sha1BlocksFn Sha1Best() {
  const Sha1BlocksFn accelerated = sha_blocks::Sha1Accelerated();
  return accelerated ? accelerated : &sha_blocks::Sha1Portable;
}

Sha256BlocksFn Sha256Best() {
  const Sha256BlocksFn accelerated = sha_blocks::Sha256Accelerated();
  return accelerated ? accelerated : &sha_blocks::Sha256Portable;
}

void Sha1Resolve(uint32_t* state, const uint8_t* blocks, size_t count) {
  const Sha1BlocksFn best = Sha1Best();
  g_sha1.store(best, std::memory_order_relaxed);
  best(state, blocks, count);
}

void Sha256Resolve(uint32_t* state, const uint8_t* blocks, size_t count) {
  const Sha256BlocksFn best = Sha256Best();
  g_sha256.store(best, std::memory_order_relaxed);
  best(state, blocks, count);
}

// Takes `size` bytes into a context's block buffer and count. A filled buffer goes to
// `compress`, and the whole blocks that follow go to it straight from the caller's bytes, in one
// call and without a copy.
template <typename CompressFn>
void TakeBytes(const CompressFn& compress, uint8_t* block, uint64_t& count, const uint8_t* data,
               size_t size) {
  if (size == 0) return;
  const size_t used = static_cast<size_t>(count % kBlockSize);
  count += size;
  if (used != 0) {
    const size_t take = size < kBlockSize - used ? size : kBlockSize - used;
    std::memcpy(block + used, data, take);
    data += take;
    size -= take;
    if (used + take < kBlockSize) return;
    compress(block, 1);
  }
  const size_t whole = size / kBlockSize;
  if (whole != 0) {
    compress(data, whole);
    data += whole * kBlockSize;
    size -= whole * kBlockSize;
  }
  if (size != 0) std::memcpy(block, data, size);
}

// The padding after `count` message bytes: 0x80, zeros up to position 56 of a block (a further
// block when fewer than 9 bytes remain), then the length in bits, big-endian.
struct Padding {
  explicit Padding(uint64_t count) {
    const size_t used = static_cast<size_t>(count % kBlockSize);
    size = (used < 56 ? 56 : 56 + kBlockSize) - used + 8;
    std::memset(bytes, 0, sizeof bytes);
    bytes[0] = 0x80;
    const uint64_t bits = count * 8;
    for (size_t i = 0; i < 8; ++i) bytes[size - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  }
  uint8_t bytes[kBlockSize + 8];
  size_t size;
};

}  // namespace

namespace sha_blocks {

Sha1BlocksFn Sha1Active() {
  const Sha1BlocksFn fn = g_sha1.load(std::memory_order_relaxed);
  return fn == &Sha1Resolve ? Sha1Best() : fn;
}

Sha256BlocksFn Sha256Active() {
  const Sha256BlocksFn fn = g_sha256.load(std::memory_order_relaxed);
  return fn == &Sha256Resolve ? Sha256Best() : fn;
}

void UsePortable(bool portable) {
  g_sha1.store(portable ? &Sha1Portable : Sha1Best(), std::memory_order_relaxed);
  g_sha256.store(portable ? &Sha256Portable : Sha256Best(), std::memory_order_relaxed);
}

}  // namespace sha_blocks

void Sha1::Init() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  state_[4] = 0xc3d2e1f0;
  count_ = 0;
}

void Sha1::Update(const uint8_t* data, size_t size) {
  TakeBytes([this](const uint8_t* blocks, size_t count) { Compress(blocks, count); }, block_,
            count_, data, size);
}

void Sha1::Compress(const uint8_t* blocks, size_t count) {
  g_sha1.load(std::memory_order_relaxed)(state_, blocks, count);
}

std::string Sha1::FinalHex() {
  const Padding pad(count_);
  Update(pad.bytes, pad.size);
  return HexDigest(state_, 5);
}

void Sha256::Init() {
  state_[0] = 0x6a09e667;
  state_[1] = 0xbb67ae85;
  state_[2] = 0x3c6ef372;
  state_[3] = 0xa54ff53a;
  state_[4] = 0x510e527f;
  state_[5] = 0x9b05688c;
  state_[6] = 0x1f83d9ab;
  state_[7] = 0x5be0cd19;
  count_ = 0;
}

void Sha256::Update(const uint8_t* data, size_t size) {
  TakeBytes([this](const uint8_t* blocks, size_t count) { Compress(blocks, count); }, block_,
            count_, data, size);
}

void Sha256::Compress(const uint8_t* blocks, size_t count) {
  g_sha256.load(std::memory_order_relaxed)(state_, blocks, count);
}

std::string Sha256::FinalHex() {
  const Padding pad(count_);
  Update(pad.bytes, pad.size);
  return HexDigest(state_, 8);
}

std::string HexDigest(const uint32_t* words, int count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(static_cast<size_t>(count > 0 ? count : 0) * 8);
  for (int i = 0; i < count; ++i) {
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(words[i] >> shift) & 0xf];
  }
  return text;
}

std::string Sha256File(const std::filesystem::path& path) {
  // Some systems open a folder for reading and fail only at the first read; a folder has no
  // digest anywhere.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::vector<char> buffer(kFileBufferSize);
  Sha256 sha;
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) {
      sha.Update(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got));
    }
    if (!in) break;  // end of file or a read error
  }
  return sha.FinalHex();
}

}  // namespace launcher
