// The game's soundtrack database "ST.DB" and the names of the song files beside it.
//
// The file is made of 512-byte pages, all numbers little-endian 32-bit:
//   header page (offset 0)        1, n (soundtracks), n + 1, then the ids 1..n
//   soundtrack page t (512 * t)   71 13 02 00, t, song count, the global number of each of its
//                                 blocks, at 348 the sum of its lengths in ms, at 352 its name
//   song block g (51712 + 512 g)  73 10 03 00, t, the block's number k within the soundtrack, 0,
//                                 six song ids (t << 16 | 6k + j), six lengths in ms, and from 64
//                                 six names of 64 bytes
// Names are UTF-16LE of at most 31 code units, unterminated (the zero-filled page ends them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "music/music_scan.h"

namespace launcher {

inline constexpr std::size_t kDbPageSize = 512;
// The header page and one page for each of the 100 possible soundtracks.
inline constexpr std::size_t kDbBlocksOffset = kDbPageSize * 101;

// The song file of song `index` of soundtrack `soundtrack_id`, relative to the soundtrack
// folder: "%04x/%08x.WMA" of the soundtrack id and the song id (soundtrack id << 16 | index).
std::string SongFileName(unsigned soundtrack_id, int index);

// The whole database for these soundtracks (the first 100 of them); the caller writes it.
std::string BuildSoundtrackDb(const std::vector<Soundtrack>& soundtracks);

// Writes `name` at `offset` as UTF-16LE, at most 31 code units, never half a surrogate pair.
// The UTF-8 is decoded leniently: a lead byte takes as many following bytes as it announces
// (their low 6 bits, whatever their high ones), a sequence cut short by the end keeps the bits
// it has, and any other byte is a code unit of its own value. `buffer` must hold 62 bytes from
// `offset`.
void WriteDbName(std::string& buffer, std::size_t offset, const std::string& name);

}  // namespace launcher
