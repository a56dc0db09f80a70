#include "music/soundtrack_db.h"

#include <algorithm>
#include <cstdio>

namespace launcher {
namespace {

constexpr std::size_t kMaxNameUnits = 31;
constexpr std::size_t kSongsPerBlock = 6;
constexpr std::size_t kSoundtrackTotalMs = 348;
constexpr std::size_t kSoundtrackName = 352;

void Put32(std::string& buffer, std::size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) buffer[offset + i] = char((value >> (8 * i)) & 0xFF);
}

void PutBytes(std::string& buffer, std::size_t offset, const char (&bytes)[5]) {
  std::copy(bytes, bytes + 4, buffer.begin() + std::ptrdiff_t(offset));
}

// The next code point of `name` from `i` (advanced past it), decoded leniently.
uint32_t NextCodePoint(const std::string& name, std::size_t& i) {
  const auto lead = uint8_t(name[i++]);
  int following = 0;
  uint32_t value = lead;
  if (lead >= 0xF0) {
    following = 3;
    value = lead & 0x07;
  } else if (lead >= 0xE0) {
    following = 2;
    value = lead & 0x0F;
  } else if (lead >= 0xC0) {
    following = 1;
    value = lead & 0x1F;
  }
  for (; following > 0 && i < name.size(); --following) {
    value = (value << 6) | (uint8_t(name[i++]) & 0x3F);
  }
  return value;
}

void PutUnit(std::string& buffer, std::size_t offset, uint32_t unit) {
  buffer[offset] = char(unit & 0xFF);
  buffer[offset + 1] = char((unit >> 8) & 0xFF);
}

// The songs a soundtrack page can list: 84 block numbers fill it up to the length total, so
// more would overwrite the total, the name and then the next page.
std::size_t SongCount(const Soundtrack& soundtrack) {
  return std::min(soundtrack.songs.size(), kMaxSongsPerSoundtrack);
}

}  // namespace

std::string SongFileName(unsigned soundtrack_id, int index) {
  char text[32];
  std::snprintf(text, sizeof text, "%04x/%08x.WMA", soundtrack_id,
                (soundtrack_id << 16) | unsigned(index));
  return text;
}

void WriteDbName(std::string& buffer, std::size_t offset, const std::string& name) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < name.size();) {
    const uint32_t value = NextCodePoint(name, i);
    if (value > 0xFFFF) {
      if (units + 2 > kMaxNameUnits) break;
      PutUnit(buffer, offset + 2 * units++, 0xD800 + ((value - 0x10000) >> 10));
      PutUnit(buffer, offset + 2 * units++, 0xDC00 | (value & 0x3FF));
    } else {
      if (units + 1 > kMaxNameUnits) break;
      PutUnit(buffer, offset + 2 * units++, value);
    }
  }
}

std::string BuildSoundtrackDb(const std::vector<Soundtrack>& soundtracks) {
  const std::size_t n = std::min(soundtracks.size(), kMaxSoundtracks);
  // The size counts the blocks of every soundtrack given, also past the 100 written: those
  // pages stay zero.
  std::size_t blocks = 0;
  for (const Soundtrack& soundtrack : soundtracks) {
    blocks += (SongCount(soundtrack) + kSongsPerBlock - 1) / kSongsPerBlock;
  }
  std::string db(kDbBlocksOffset + kDbPageSize * blocks, '\0');

  Put32(db, 0, 1);
  Put32(db, 4, uint32_t(n));
  Put32(db, 8, uint32_t(n + 1));
  for (uint32_t t = 1; t <= n; ++t) Put32(db, 12 + 4 * (t - 1), t);

  uint32_t g = 0;
  for (uint32_t t = 1; t <= n; ++t) {
    const Soundtrack& soundtrack = soundtracks[t - 1];
    const std::size_t count = SongCount(soundtrack);
    const std::size_t page = kDbPageSize * t;
    PutBytes(db, page, "\x71\x13\x02\x00");
    Put32(db, page + 4, t);
    Put32(db, page + 8, uint32_t(count));
    uint32_t total_ms = 0;
    for (uint32_t k = 0; kSongsPerBlock * k < count; ++k, ++g) {
      Put32(db, page + 12 + 4 * k, g);
      const std::size_t block = kDbBlocksOffset + kDbPageSize * g;
      PutBytes(db, block, "\x73\x10\x03\x00");
      Put32(db, block + 4, t);
      Put32(db, block + 8, k);
      for (uint32_t j = 0; j < kSongsPerBlock && kSongsPerBlock * k + j < count; ++j) {
        const uint32_t s = uint32_t(kSongsPerBlock) * k + j;
        const Song& song = soundtrack.songs[s];
        Put32(db, block + 16 + 4 * j, (t << 16) | s);
        Put32(db, block + 40 + 4 * j, song.ms);
        WriteDbName(db, block + 64 + 64 * j, song.name);
        total_ms += song.ms;  // wraps at 32 bits, as the field does
      }
    }
    Put32(db, page + kSoundtrackTotalMs, total_ms);
    WriteDbName(db, page + kSoundtrackName, soundtrack.name);
  }
  return db;
}

}  // namespace launcher
