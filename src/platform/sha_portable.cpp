// The SHA-1 and SHA-256 block functions of FIPS 180-4 in plain C++, for CPUs without SHA
// instructions.
#include <cstddef>
#include <cstdint>

#include "platform/sha_blocks.h"

namespace launcher::sha_blocks {
namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// One SHA-1 round: `f` is the round function's value for b, c, d. Callers rotate the names of
// the working variables instead of moving them.
[[gnu::always_inline]] inline void Sha1Round(uint32_t a, uint32_t& b, uint32_t f, uint32_t& e,
                                             uint32_t k, uint32_t w) {
  e += Rotl(a, 5) + f + k + w;
  b = Rotl(b, 30);
}

inline uint32_t Choose(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t Parity(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t Majority(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }

// The schedule word of round `t`, computed from the earlier ones from round 16 on. The words are
// made one at a time as the rounds need them: a separate loop gets vectorised by the compiler
// into overlapping stores and loads, which stall and halve the speed.
[[gnu::always_inline]] inline uint32_t Sha1Word(uint32_t* w, int t) {
  if (t >= 16) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  return w[t];
}

// Five rounds of one round function from round `t`, ending with the original names.
template <uint32_t (*F)(uint32_t, uint32_t, uint32_t)>
[[gnu::always_inline]] inline void Sha1Rounds5(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d,
                                               uint32_t& e, uint32_t k, uint32_t* w, int t) {
  Sha1Round(a, b, F(b, c, d), e, k, Sha1Word(w, t));
  Sha1Round(e, a, F(a, b, c), d, k, Sha1Word(w, t + 1));
  Sha1Round(d, e, F(e, a, b), c, k, Sha1Word(w, t + 2));
  Sha1Round(c, d, F(d, e, a), b, k, Sha1Word(w, t + 3));
  Sha1Round(b, c, F(c, d, e), a, k, Sha1Word(w, t + 4));
}

void Sha1Block(uint32_t* state, const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(block + 4 * t);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  // Written out so that every round number is a constant and no round tests it at run time.
  Sha1Rounds5<Choose>(a, b, c, d, e, 0x5a827999, w, 0);
  Sha1Rounds5<Choose>(a, b, c, d, e, 0x5a827999, w, 5);
  Sha1Rounds5<Choose>(a, b, c, d, e, 0x5a827999, w, 10);
  Sha1Rounds5<Choose>(a, b, c, d, e, 0x5a827999, w, 15);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0x6ed9eba1, w, 20);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0x6ed9eba1, w, 25);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0x6ed9eba1, w, 30);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0x6ed9eba1, w, 35);
  Sha1Rounds5<Majority>(a, b, c, d, e, 0x8f1bbcdc, w, 40);
  Sha1Rounds5<Majority>(a, b, c, d, e, 0x8f1bbcdc, w, 45);
  Sha1Rounds5<Majority>(a, b, c, d, e, 0x8f1bbcdc, w, 50);
  Sha1Rounds5<Majority>(a, b, c, d, e, 0x8f1bbcdc, w, 55);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0xca62c1d6, w, 60);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0xca62c1d6, w, 65);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0xca62c1d6, w, 70);
  Sha1Rounds5<Parity>(a, b, c, d, e, 0xca62c1d6, w, 75);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

// One SHA-256 round with `kw` = round constant + schedule word; rotates names like Sha1Round.
[[gnu::always_inline]] inline void Sha256Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d,
                                               uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                                               uint32_t kw) {
  const uint32_t temp1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + Choose(e, f, g) + kw;
  d += temp1;
  h = temp1 + (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + Majority(a, b, c);
}

// The schedule word of round `t`, made as the rounds need it (see Sha1Word).
[[gnu::always_inline]] inline uint32_t Sha256Word(uint32_t* w, int t) {
  if (t >= 16) {
    const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  return kSha256Rounds[t] + w[t];
}

// Eight rounds from round `t`, ending with the original names.
[[gnu::always_inline]] inline void Sha256Rounds8(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d,
                                                 uint32_t& e, uint32_t& f, uint32_t& g, uint32_t& h,
                                                 uint32_t* w, int t) {
  Sha256Round(a, b, c, d, e, f, g, h, Sha256Word(w, t));
  Sha256Round(h, a, b, c, d, e, f, g, Sha256Word(w, t + 1));
  Sha256Round(g, h, a, b, c, d, e, f, Sha256Word(w, t + 2));
  Sha256Round(f, g, h, a, b, c, d, e, Sha256Word(w, t + 3));
  Sha256Round(e, f, g, h, a, b, c, d, Sha256Word(w, t + 4));
  Sha256Round(d, e, f, g, h, a, b, c, Sha256Word(w, t + 5));
  Sha256Round(c, d, e, f, g, h, a, b, Sha256Word(w, t + 6));
  Sha256Round(b, c, d, e, f, g, h, a, Sha256Word(w, t + 7));
}

void Sha256Block(uint32_t* state, const uint8_t* block) {
  uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(block + 4 * t);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  // Written out so that every round number is a constant (see Sha1Block).
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 0);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 8);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 16);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 24);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 32);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 40);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 48);
  Sha256Rounds8(a, b, c, d, e, f, g, h, w, 56);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

void Sha1Portable(uint32_t* state, const uint8_t* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i) Sha1Block(state, blocks + 64 * i);
}

void Sha256Portable(uint32_t* state, const uint8_t* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i) Sha256Block(state, blocks + 64 * i);
}

}  // namespace launcher::sha_blocks
