// Tar streams and xz files made at run time for the unpacker's tests: regular files, folders,
// links, the ustar prefix, GNU long names, pax headers and the size encodings tar writers use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace launcher::test {

// How a header's size field is written.
enum class TarSize {
  kOctal,          // "00000000012\0"
  kLeadingSpaces,  // "         12\0"
  kSpaceEnded,     // "00000000012 "
  kBase256,        // top bit set, big-endian in the last eight bytes
};

// The fields of one header block the unpacker reads; the rest stays zero.
struct TarHeader {
  std::string name;       // at most 100 bytes
  std::string prefix;     // the ustar prefix, at most 155 bytes
  std::string link_name;  // at most 100 bytes
  char type = '0';
  uint32_t mode = 0644;
  bool ustar = true;      // write the "ustar" magic (the prefix counts only then)
  TarSize size_style = TarSize::kOctal;
  // The size the header states; the data's own size when unset (a pax "size" record may stand
  // in for it, as writers do for files over 8 GiB).
  std::optional<uint64_t> size;
};

class TarWriter {
 public:
  // One header with `data` after it, padded to the next 512-byte block.
  void Add(const TarHeader& header, std::string_view data);

  void File(const std::string& name, std::string_view data, uint32_t mode = 0644);
  void Folder(const std::string& name);
  void Symlink(const std::string& name, const std::string& target);
  void HardLink(const std::string& name, const std::string& target);
  // GNU 'L' and 'K' entries: the name, or the link name, of the entry after them.
  void LongName(const std::string& name);
  void LongLinkName(const std::string& target);
  // A pax header ('x' for the next entry, 'g' global) with these key/value records.
  void Pax(const std::vector<std::pair<std::string, std::string>>& records, char type = 'x');
  void ZeroBlocks(int count);

  // The stream so far, then the two zero blocks that end an archive.
  std::string Finish() const;
  // The stream so far, without an end.
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// One pax record, "<length> <key>=<value>\n", its length counting itself.
std::string PaxRecord(const std::string& key, const std::string& value);

// `data` compressed into one .xz stream with CRC-64 checks: one block when `block_size` is 0,
// else a block per `block_size` bytes (each block's sizes in its header, as xz -T writes them).
std::string XzCompress(std::string_view data, uint64_t block_size = 0, uint32_t preset = 6);

// Changes the LZMA2 dictionary property of the first block's filter and mends that header's
// CRC-32: the stream then asks for a dictionary of (2 | (property & 1)) << (property / 2 + 11)
// bytes (36: 1 GiB, 37: 1.5 GiB, 39: 3 GiB). False when the first filter is not LZMA2.
bool SetXzDictionary(std::string& xz, uint8_t property);

// Some bytes of varied content, compressible like real files.
std::string SampleBytes(size_t size, uint32_t seed);

}  // namespace launcher::test
