// SHA-1 and SHA-256 as streaming contexts that end in lowercase hexadecimal text.
//
// The block code is chosen once per process: the CPU's SHA instructions where it has them,
// otherwise portable code. Both give the same digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

class Sha1 {
 public:
  Sha1() { Init(); }
  // Loads the initial state and sets the byte count to 0.
  void Init();
  // Takes in `size` bytes (0 allowed), in any number of calls.
  void Update(const uint8_t* data, size_t size);
  // 40 lowercase hexadecimal digits; the context is spent afterwards (Init starts a new digest).
  std::string FinalHex();

 private:
  // Processes `count` whole 64-byte blocks into the state: one from the block buffer, or many
  // straight from the caller's bytes.
  void Compress(const uint8_t* blocks, size_t count);

  uint32_t state_[5];
  uint8_t block_[64];
  uint64_t count_ = 0;
};

class Sha256 {
 public:
  Sha256() { Init(); }
  // Loads the initial state and sets the byte count to 0.
  void Init();
  // Takes in `size` bytes (0 allowed), in any number of calls.
  void Update(const uint8_t* data, size_t size);
  // 64 lowercase hexadecimal digits; the context is spent afterwards (Init starts a new digest).
  std::string FinalHex();

 private:
  // Processes `count` whole 64-byte blocks into the state: one from the block buffer, or many
  // straight from the caller's bytes.
  void Compress(const uint8_t* blocks, size_t count);

  uint32_t state_[8];
  uint8_t block_[64];
  uint64_t count_ = 0;
};

// Each word as eight lowercase hexadecimal digits, most significant first, words in order.
std::string HexDigest(const uint32_t* words, int count);

// The SHA-256 of a file's bytes, streamed through a 1 MiB buffer; "" when the file cannot be
// opened or is a folder. A read error part-way ends the reading and gives the digest of the
// bytes read until then.
std::string Sha256File(const std::filesystem::path& path);

}  // namespace launcher
