#include "platform/tar_reader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>

#include "platform/platform.h"
#include "platform/archive_path.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr size_t kBlock = 512;

// A meta entry longer than this keeps only its start: real names are far shorter, and a
// crafted archive must not make the reader hold gigabytes.
constexpr size_t kMaxMetaText = 1 << 20;

// A link's copy is streamed through one buffer of this size.
constexpr size_t kCopyBufferSize = 1 << 20;

// Header fields: offset and size.
constexpr size_t kNameAt = 0, kNameSize = 100;
constexpr size_t kModeAt = 100, kModeSize = 8;
constexpr size_t kSizeAt = 124, kSizeSize = 12;
constexpr size_t kTypeAt = 156;
constexpr size_t kLinkAt = 157, kLinkSize = 100;
constexpr size_t kMagicAt = 257;
constexpr size_t kPrefixAt = 345, kPrefixSize = 155;

bool IsMetaType(char type) { return type == 'L' || type == 'K' || type == 'x' || type == 'g'; }
bool IsFileType(char type) { return type == '\0' || type == '0' || type == '7'; }

// A text field, up to its first NUL.
std::string Field(const uint8_t* header, size_t at, size_t size) {
  const char* start = reinterpret_cast<const char*>(header + at);
  return std::string(start, strnlen(start, size));
}

bool IsOctalDigit(uint8_t c) { return c >= '0' && c <= '7'; }

// Octal digits; a NUL ends the field, anything else (spaces) is passed over. The first byte
// counts as 0 when it is not a digit.
uint64_t ReadOctal(const uint8_t* field, size_t size) {
  if (field[0] == 0) return 0;
  uint64_t value = IsOctalDigit(field[0]) ? field[0] - '0' : 0;
  for (size_t i = 1; i < size; ++i) {
    if (field[i] == 0) break;
    if (IsOctalDigit(field[i])) value = value * 8 + (field[i] - '0');
  }
  return value;
}

// The size field: base-256 (its last eight bytes, big-endian) when the top bit of the first
// byte is set, else octal.
uint64_t ReadSize(const uint8_t* header) {
  const uint8_t* field = header + kSizeAt;
  if ((field[0] & 0x80) != 0) {
    uint64_t value = 0;
    for (size_t i = kSizeSize - 8; i < kSizeSize; ++i) value = (value << 8) | field[i];
    return value;
  }
  return ReadOctal(field, kSizeSize);
}

bool AllZero(const uint8_t* block) {
  return std::all_of(block, block + kBlock, [](uint8_t b) { return b == 0; });
}

// The text up to its first NUL.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

// The key of the written-names table: "./bin/x" and "bin//x" name the same file as "bin/x".
std::string NameKey(const std::string& name) { return NormalizeSlashPath(name); }

// A pax "size" value: decimal digits that fit 64 bits, else the record is left out.
bool ReadPaxSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  size = value;
  return true;
}

}  // namespace

TarReader::TarReader(const fs::path& dest, const NameMapper& mapper, const fs::path& archive) {
  state_.dest = dest;
  state_.mapper = mapper;
  state_.archive = PathToUtf8(archive);
  state_.folders = ArchiveFolders(dest);
}

bool TarReader::Feed(const uint8_t* data, size_t size, std::string& error) {
  TarState& s = state_;
  while (size > 0 && !s.ended) {
    if (s.in_data) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(size, s.data_left));
      if (!TakeData(data, take, error)) return false;
      data += take;
      size -= take;
      s.data_left -= take;
      if (s.data_left == 0) {
        s.skip_left = s.data_padding;
        if (!FinishEntry(error)) return false;
      }
    } else if (s.skip_left > 0) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(size, s.skip_left));
      data += take;
      size -= take;
      s.skip_left -= take;
    } else {
      const size_t take = std::min(size, kBlock - s.header_fill);
      std::memcpy(s.header + s.header_fill, data, take);
      data += take;
      size -= take;
      s.header_fill += take;
      if (s.header_fill == kBlock) {
        s.header_fill = 0;
        if (!StartEntry(error)) return false;
      }
    }
  }
  return true;
}

bool TarReader::TakeData(const uint8_t* data, size_t size, std::string& error) {
  TarState& s = state_;
  switch (s.sink) {
    case TarState::Sink::kFile:
      return WriteFile(data, size, error);
    case TarState::Sink::kMeta:
      if (s.meta.size() < kMaxMetaText) {
        s.meta.append(reinterpret_cast<const char*>(data),
                      std::min(size, kMaxMetaText - s.meta.size()));
      }
      break;
    case TarState::Sink::kNowhere:
      break;
  }
  return true;
}

// The first piece of a file's data makes the file: written whole when it is all of the data,
// else begun in a temporary that the later pieces go to.
bool TarReader::WriteFile(const uint8_t* data, size_t size, std::string& error) {
  TarState& s = state_;
  bool written;
  if (!s.file_waits) {
    written = s.file.Write(data, size);
  } else if (size == s.data_left) {
    written = s.file.WriteWhole(s.file_path, s.file_executable, data, size);
  } else {
    written = s.file.Open(s.file_path, s.file_executable) && s.file.Write(data, size);
  }
  s.file_waits = false;
  if (!written) error = s.file.ErrorText("cannot write " + PathToUtf8(s.file_path));
  return written;
}

bool TarReader::StartEntry(std::string& error) {
  TarState& s = state_;
  const uint8_t* h = s.header;
  // Two zero blocks in a row end the archive; what follows them (record padding, or an index
  // that some writers append) is no entry. A lone zero block is passed over.
  if (AllZero(h)) {
    s.ended = ++s.zero_blocks >= 2;
    return true;
  }
  s.zero_blocks = 0;

  uint64_t size = ReadSize(h);
  s.type = static_cast<char>(h[kTypeAt]);
  std::string name = Field(h, kNameAt, kNameSize);
  if (std::memcmp(h + kMagicAt, "ustar", 5) == 0) {
    const std::string prefix = Field(h, kPrefixAt, kPrefixSize);
    if (!prefix.empty()) name = prefix + "/" + name;
  }
  std::string link = Field(h, kLinkAt, kLinkSize);
  const bool executable = (ReadOctal(h + kModeAt, kModeSize) & 0111) != 0;

  // Names set by meta entries belong to the next real entry. Meta entries neither take nor
  // clear them: GNU tar writes a 'K' entry, then an 'L' entry, then the link that uses both.
  if (!IsMetaType(s.type)) {
    // A sparse file's data is a map and the pieces that are not holes: written as it stands it
    // would be wrong, so it is refused. Old GNU archives mark it by type, pax ones by records.
    if (s.type == 'S' || s.sparse) {
      const std::string& shown = !s.sparse_name.empty() ? s.sparse_name
                                 : !s.pax_path.empty()  ? s.pax_path
                                 : !s.long_name.empty() ? s.long_name
                                                        : name;
      error = "cannot unpack the sparse file " + shown + " from " + s.archive;
      return false;
    }
    s.meta_pending = false;
    if (!s.long_name.empty()) name = std::move(s.long_name);
    if (!s.pax_path.empty()) name = std::move(s.pax_path);  // a pax path wins over a long name
    if (!s.link_name.empty()) link = std::move(s.link_name);
    if (s.has_pax_size) size = s.pax_size;  // sizes beyond the header field's reach
    s.has_pax_size = false;
    s.long_name.clear();
    s.pax_path.clear();
    s.link_name.clear();
  }

  s.data_left = size;
  s.data_padding = (kBlock - size % kBlock) % kBlock;
  s.sink = TarState::Sink::kNowhere;
  if (s.type == 'L' || s.type == 'K' || s.type == 'x') {
    s.meta.clear();
    s.sink = TarState::Sink::kMeta;
  } else if (IsFileType(s.type)) {
    if (!StartFile(name, executable, error)) return false;
  } else if (s.type == '1') {
    if (!CopyLink(name, link, error)) return false;
  } else if (s.type == '2') {
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    if (!CopyLink(name, folder + link, error)) return false;
  }
  // 'g' and every other type ('5' folders, devices, FIFOs...): nothing is created.

  s.in_data = true;
  if (size == 0) return FinishEntry(error);
  return true;
}

bool TarReader::StartFile(const std::string& name, bool executable, std::string& error) {
  TarState& s = state_;
  const std::string mapped = s.mapper ? s.mapper(name) : name;
  if (mapped.empty()) return true;
  if (!IsSafeArchivePath(mapped)) {
    error = "unsafe path in the archive: " + name;
    return false;
  }
  // A name that ends in a separator names a folder (old tar writers marked folders so, with the
  // type of a file): as for a folder entry, nothing is created.
  if (mapped.back() == '/' || mapped.back() == '\\') return true;
  s.file_path = ArchiveDestPath(s.dest, mapped);
  s.file_executable = executable;
  s.file_waits = true;
  s.folders.MakeParents(mapped);
  s.written[NameKey(name)] = {mapped, executable};
  s.sink = TarState::Sink::kFile;
  return true;
}

// A link becomes a copy of the file written for its target. The target resolves only through
// the names written earlier in this stream, so a link can neither reach outside the
// destination nor copy a file that this stream did not write. Unsafe names, unknown targets
// and targets that cannot be read create nothing and are not errors; a copy that cannot be
// written is, as a file that cannot be written is.
bool TarReader::CopyLink(const std::string& name, const std::string& target, std::string& error) {
  TarState& s = state_;
  const std::string mapped = s.mapper ? s.mapper(name) : name;
  if (mapped.empty() || !IsSafeArchivePath(mapped)) return true;
  const auto found = s.written.find(NameKey(target));
  if (found == s.written.end()) return true;
  const TarState::Written source = found->second;  // the table may grow below
  const fs::path out = ArchiveDestPath(s.dest, mapped);
  s.folders.MakeParents(mapped);
  bool copied = false;
  if (!CopyFile(ArchiveDestPath(s.dest, source.mapped), out, source.executable, copied, error)) {
    return false;
  }
  if (copied) s.written[NameKey(name)] = {mapped, source.executable};
  return true;
}

// Streams `source` into `out` through the output file, so that the copy, as every file, takes
// its name only once it is whole. `copied` stays false when the source cannot be read.
bool TarReader::CopyFile(const fs::path& source, const fs::path& out, bool executable, bool& copied,
                         std::string& error) {
  TarState& s = state_;
  std::ifstream in(source, std::ios::binary);
  if (!in) return true;
  if (!s.copy_buffer) s.copy_buffer.reset(new (std::nothrow) char[kCopyBufferSize]);
  if (!s.copy_buffer) return true;
  const std::string what = "cannot write " + PathToUtf8(out);
  if (!s.file.Open(out, executable)) {
    error = s.file.ErrorText(what);
    return false;
  }
  while (in) {
    in.read(s.copy_buffer.get(), kCopyBufferSize);
    const size_t count = static_cast<size_t>(in.gcount());
    if (count > 0 && !s.file.Write(s.copy_buffer.get(), count)) {
      error = s.file.ErrorText(what);
      return false;
    }
  }
  if (in.bad()) {
    s.file.Discard();
    return true;
  }
  if (!s.file.Commit()) {
    error = s.file.ErrorText(what);
    return false;
  }
  copied = true;
  return true;
}

bool TarReader::FinishEntry(std::string& error) {
  TarState& s = state_;
  s.in_data = false;
  if (s.file_waits && !WriteFile(nullptr, 0, error)) return false;  // an empty file
  if (s.file.is_open() && !s.file.Commit()) {
    error = s.file.ErrorText("cannot write " + PathToUtf8(s.file_path));
    return false;
  }
  if (s.sink != TarState::Sink::kMeta) return true;
  s.meta_pending = true;
  if (s.type == 'L') s.long_name = UpToNul(s.meta);
  if (s.type == 'K') s.link_name = UpToNul(s.meta);
  if (s.type == 'x') ApplyPax();
  s.meta.clear();
  return true;
}

// Records of the form "<length> <key>=<value>\n". "path", "linkpath" and "size" are used: the
// size is the one record that moves the next entry's data, so it is honoured. Any "GNU.sparse."
// record (major, minor, name, realsize, size, map, numblocks, offset, numbytes) marks the next
// entry as a sparse file; the others (times, owners) leave the stream's layout as the header has
// it.
void TarReader::ApplyPax() {
  TarState& s = state_;
  const std::string& text = s.meta;
  size_t start = 0;
  while (start < text.size()) {
    const size_t space = text.find(' ', start);
    if (space == std::string::npos) return;
    uint64_t length = 0;
    for (size_t i = start; i < space && text[i] >= '0' && text[i] <= '9'; ++i) {
      length = length * 10 + static_cast<uint64_t>(text[i] - '0');
      if (length > text.size()) return;
    }
    if (length == 0) return;
    const size_t end = start + static_cast<size_t>(length);
    if (end > text.size() || end <= space + 1) return;
    const std::string body = text.substr(space + 1, end - 1 - (space + 1));
    if (body.compare(0, 5, "path=") == 0) {
      s.pax_path = body.substr(5);
    } else if (body.compare(0, 9, "linkpath=") == 0) {
      s.link_name = body.substr(9);
    } else if (body.compare(0, 11, "GNU.sparse.") == 0) {
      s.sparse = true;
      if (body.compare(11, 5, "name=") == 0) s.sparse_name = body.substr(16);
    } else if (body.compare(0, 5, "size=") == 0) {
      uint64_t size = 0;
      if (ReadPaxSize(body.substr(5), size)) {
        s.pax_size = size;
        s.has_pax_size = true;
      }
    }
    start = end;
  }
}

// Where the stream may end: before the first byte of a header, with no meta entry waiting for
// the entry it names. A header begun with zero bytes only is record padding that was cut.
bool TarReader::Between() const {
  const TarState& s = state_;
  if (s.in_data || s.skip_left > 0 || s.meta_pending) return false;
  return std::all_of(s.header, s.header + s.header_fill, [](uint8_t b) { return b == 0; });
}

bool TarReader::Finish(std::string& error) {
  TarState& s = state_;
  if (s.ended || Between()) return true;
  s.file.Discard();
  error = "the tar data ends early: " + s.archive;
  return false;
}

}  // namespace launcher
