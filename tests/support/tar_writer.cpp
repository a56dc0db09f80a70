#include "support/tar_writer.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace launcher::test {
namespace {

constexpr size_t kBlock = 512;

void PutText(char* block, size_t at, size_t size, const std::string& text) {
  EXPECT_LE(text.size(), size) << "tar field too long: " << text;
  std::memcpy(block + at, text.data(), std::min(text.size(), size));
}

// `value` in octal, right-aligned in `width` digits with zeros, then `end`.
std::string Octal(uint64_t value, size_t width) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + value % 8));
    value /= 8;
  } while (value != 0);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

void PutSize(char* block, uint64_t size, TarSize style) {
  char* field = block + 124;
  switch (style) {
    case TarSize::kOctal:
      std::memcpy(field, Octal(size, 11).data(), 11);
      break;
    case TarSize::kLeadingSpaces: {
      std::string digits = Octal(size, 1);
      digits.insert(0, 11 - digits.size(), ' ');
      std::memcpy(field, digits.data(), 11);
      break;
    }
    case TarSize::kSpaceEnded:
      std::memcpy(field, Octal(size, 11).data(), 11);
      field[11] = ' ';
      break;
    case TarSize::kBase256:
      field[0] = static_cast<char>(0x80);
      for (int i = 0; i < 8; ++i) field[11 - i] = static_cast<char>((size >> (8 * i)) & 0xff);
      break;
  }
}

// Header checksum: the bytes summed with the checksum field read as spaces.
void PutChecksum(char* block) {
  std::memset(block + 148, ' ', 8);
  unsigned sum = 0;
  for (size_t i = 0; i < kBlock; ++i) sum += static_cast<unsigned char>(block[i]);
  const std::string digits = Octal(sum, 6);
  std::memcpy(block + 148, digits.data(), 6);
  block[154] = '\0';
  block[155] = ' ';
}

}  // namespace

void TarWriter::Add(const TarHeader& header, std::string_view data) {
  char block[kBlock] = {};
  PutText(block, 0, 100, header.name);
  std::memcpy(block + 100, Octal(header.mode, 7).data(), 7);
  std::memcpy(block + 108, "0000000", 7);
  std::memcpy(block + 116, "0000000", 7);
  PutSize(block, header.size.value_or(data.size()), header.size_style);
  std::memcpy(block + 136, "00000000000", 11);
  block[156] = header.type;
  PutText(block, 157, 100, header.link_name);
  if (header.ustar) {
    std::memcpy(block + 257, "ustar\0" "00", 8);
    PutText(block, 345, 155, header.prefix);
  }
  PutChecksum(block);
  bytes_.append(block, kBlock);
  bytes_.append(data);
  bytes_.append((kBlock - data.size() % kBlock) % kBlock, '\0');
}

void TarWriter::File(const std::string& name, std::string_view data, uint32_t mode) {
  TarHeader header;
  header.name = name;
  header.mode = mode;
  Add(header, data);
}

void TarWriter::Folder(const std::string& name) {
  TarHeader header;
  header.name = name;
  header.type = '5';
  header.mode = 0755;
  Add(header, "");
}

void TarWriter::Symlink(const std::string& name, const std::string& target) {
  TarHeader header;
  header.name = name;
  header.link_name = target;
  header.type = '2';
  header.mode = 0777;
  Add(header, "");
}

void TarWriter::HardLink(const std::string& name, const std::string& target) {
  TarHeader header;
  header.name = name;
  header.link_name = target;
  header.type = '1';
  Add(header, "");
}

void TarWriter::LongName(const std::string& name) {
  TarHeader header;
  header.name = "././@LongLink";
  header.type = 'L';
  Add(header, name + std::string(1, '\0'));
}

void TarWriter::LongLinkName(const std::string& target) {
  TarHeader header;
  header.name = "././@LongLink";
  header.type = 'K';
  Add(header, target + std::string(1, '\0'));
}

void TarWriter::Pax(const std::vector<std::pair<std::string, std::string>>& records, char type) {
  std::string text;
  for (const auto& [key, value] : records) text += PaxRecord(key, value);
  TarHeader header;
  header.name = type == 'g' ? "pax_global_header" : "PaxHeaders/entry";
  header.type = type;
  Add(header, text);
}

void TarWriter::ZeroBlocks(int count) { bytes_.append(kBlock * count, '\0'); }

std::string TarWriter::Finish() const { return bytes_ + std::string(2 * kBlock, '\0'); }

std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::string body = " " + key + "=" + value + "\n";
  size_t length = body.size() + 1;
  while (std::to_string(length).size() + body.size() != length) ++length;
  return std::to_string(length) + body;
}

std::string XzCompress(std::string_view data, uint64_t block_size, uint32_t preset) {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret ret;
  if (block_size == 0) {
    ret = lzma_easy_encoder(&stream, preset, LZMA_CHECK_CRC64);
  } else {
    lzma_mt options;
    std::memset(&options, 0, sizeof options);
    options.threads = 4;
    options.block_size = block_size;
    options.preset = preset;
    options.check = LZMA_CHECK_CRC64;
    ret = lzma_stream_encoder_mt(&stream, &options);
  }
  EXPECT_EQ(ret, LZMA_OK) << "xz encoder";
  std::string out;
  std::vector<uint8_t> buffer(1 << 16);
  stream.next_in = reinterpret_cast<const uint8_t*>(data.data());
  stream.avail_in = data.size();
  do {
    stream.next_out = buffer.data();
    stream.avail_out = buffer.size();
    ret = lzma_code(&stream, LZMA_FINISH);
    out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream.avail_out);
  } while (ret == LZMA_OK);
  EXPECT_EQ(ret, LZMA_STREAM_END) << "xz encoder";
  lzma_end(&stream);
  return out;
}

bool SetXzDictionary(std::string& xz, uint8_t property) {
  // Stream header (12 bytes), then the first block header: its size byte, its flags, the
  // optional compressed and uncompressed sizes (variable-length integers), then the filters.
  auto* bytes = reinterpret_cast<uint8_t*>(xz.data());
  const size_t start = 12;
  if (xz.size() < start + 2) return false;
  const size_t header_size = (static_cast<size_t>(bytes[start]) + 1) * 4;
  if (xz.size() < start + header_size) return false;
  size_t at = start + 2;
  const uint8_t flags = bytes[start + 1];
  auto skip_vli = [&] {
    while (at < start + header_size && (bytes[at] & 0x80) != 0) ++at;
    ++at;
  };
  if ((flags & 0x40) != 0) skip_vli();
  if ((flags & 0x80) != 0) skip_vli();
  // LZMA2: filter id 0x21, one byte of properties.
  if (bytes[at] != 0x21 || bytes[at + 1] != 0x01) return false;
  bytes[at + 2] = property;
  const size_t crc_at = start + header_size - 4;
  const uint32_t crc = lzma_crc32(bytes + start, crc_at - start, 0);
  for (int i = 0; i < 4; ++i) bytes[crc_at + i] = static_cast<uint8_t>(crc >> (8 * i));
  return true;
}

std::string SampleBytes(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"alpha ", "bravo ", "charlie ", "delta ", "echo\n",
                                       "foxtrot ", "golf ", "hotel ", "india ", "juliet\n"};
  std::mt19937 random(seed);
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) {
    if (random() % 7 == 0) {
      out += static_cast<char>(random() & 0xff);
    } else {
      out += kWords[random() % 10];
    }
  }
  out.resize(size);
  return out;
}

}  // namespace launcher::test
