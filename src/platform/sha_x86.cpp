// SHA-1 and SHA-256 block functions on the x86 SHA extensions (with SSSE3 and SSE4.1), chosen at
// run time when the CPU reports them. Only these functions are compiled for those instructions, so
// the rest of the program runs on any x86-64 CPU.
#include <cstddef>
#include <cstdint>

#include "platform/sha_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#define LAUNCHER_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define LAUNCHER_SHA_INLINE inline __attribute__((always_inline, target("sha,sse4.1,ssse3")))

namespace launcher::sha_blocks {
namespace {

bool CpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & bit_SHA) != 0;
  return ssse3 && sse41 && sha;
}

bool HaveShaExtensions() {
  static const bool have = CpuHasShaExtensions();
  return have;
}

// ---- SHA-256 ----

// Four rounds with message words `w` (four schedule words) and round constants from `group` * 4.
// `abef` and `cdgh` hold the working variables in the order the instructions expect.
LAUNCHER_SHA_INLINE void Sha256Rounds4(__m128i& abef, __m128i& cdgh, __m128i w, int group) {
  __m128i wk = _mm_add_epi32(
      w, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Rounds + 4 * group)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  wk = _mm_shuffle_epi32(wk, 0x0e);  // the upper two words for the second pair of rounds
  abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

// The next four schedule words from the previous sixteen: `w0` holds the oldest four (and gets
// the new ones), then `w1`, `w2`, `w3` the newest.
LAUNCHER_SHA_INLINE void Sha256Schedule(__m128i& w0, __m128i w1, __m128i w2, __m128i w3) {
  w0 = _mm_sha256msg1_epu32(w0, w1);
  w0 = _mm_add_epi32(w0, _mm_alignr_epi8(w3, w2, 4));
  w0 = _mm_sha256msg2_epu32(w0, w3);
}

LAUNCHER_SHA_TARGET void Sha256ShaNi(uint32_t* state, const uint8_t* blocks, size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

  // state is A B C D | E F G H; the round instructions take A B E F and C D G H.
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  abcd = _mm_shuffle_epi32(abcd, 0xb1);
  efgh = _mm_shuffle_epi32(efgh, 0x1b);
  __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xf0);

  for (; count != 0; --count, blocks += 64) {
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;
    const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);

    Sha256Rounds4(abef, cdgh, w0, 0);
    Sha256Rounds4(abef, cdgh, w1, 1);
    Sha256Rounds4(abef, cdgh, w2, 2);
    Sha256Rounds4(abef, cdgh, w3, 3);
    for (int group = 4; group < 16; group += 4) {
      Sha256Schedule(w0, w1, w2, w3);
      Sha256Rounds4(abef, cdgh, w0, group);
      Sha256Schedule(w1, w2, w3, w0);
      Sha256Rounds4(abef, cdgh, w1, group + 1);
      Sha256Schedule(w2, w3, w0, w1);
      Sha256Rounds4(abef, cdgh, w2, group + 2);
      Sha256Schedule(w3, w0, w1, w2);
      Sha256Rounds4(abef, cdgh, w3, group + 3);
    }

    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  // Back to A B C D | E F G H.
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
  abcd = _mm_blend_epi16(feba, dchg, 0xf0);
  efgh = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), efgh);
}

// ---- SHA-1 ----

// The next four schedule words from the previous sixteen (`w0` oldest, gets the new ones).
LAUNCHER_SHA_INLINE void Sha1Schedule(__m128i& w0, __m128i w1, __m128i w2, __m128i w3) {
  w0 = _mm_sha1msg1_epu32(w0, w1);
  w0 = _mm_xor_si128(w0, w2);
  w0 = _mm_sha1msg2_epu32(w0, w3);
}

// Four rounds of round function `F` (0 to 3). `e_in` holds the E of these rounds before the
// message words are added; `e_out` receives A, from which the next four rounds derive their E.
template <int F>
LAUNCHER_SHA_INLINE void Sha1Rounds4(__m128i& abcd, __m128i& e_in, __m128i& e_out, __m128i w) {
  e_in = _mm_sha1nexte_epu32(e_in, w);
  e_out = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e_in, F);
}

LAUNCHER_SHA_TARGET void Sha1ShaNi(uint32_t* state, const uint8_t* blocks, size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);

  // The instructions hold A in the top word: reverse the word order of A B C D; E goes to the
  // top word of its own register.
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  abcd = _mm_shuffle_epi32(abcd, 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i e1;

  for (; count != 0; --count, blocks += 64) {
    const __m128i abcd_before = abcd;
    const __m128i e_before = e0;
    const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);

    // Rounds 0-3 take E as it is; every later group derives it from the A of four rounds before.
    e0 = _mm_add_epi32(e0, w0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    Sha1Rounds4<0>(abcd, e1, e0, w1);  // 4-7
    Sha1Rounds4<0>(abcd, e0, e1, w2);  // 8-11
    Sha1Rounds4<0>(abcd, e1, e0, w3);  // 12-15
    Sha1Schedule(w0, w1, w2, w3);
    Sha1Rounds4<0>(abcd, e0, e1, w0);  // 16-19
    Sha1Schedule(w1, w2, w3, w0);
    Sha1Rounds4<1>(abcd, e1, e0, w1);  // 20-23
    Sha1Schedule(w2, w3, w0, w1);
    Sha1Rounds4<1>(abcd, e0, e1, w2);  // 24-27
    Sha1Schedule(w3, w0, w1, w2);
    Sha1Rounds4<1>(abcd, e1, e0, w3);  // 28-31
    Sha1Schedule(w0, w1, w2, w3);
    Sha1Rounds4<1>(abcd, e0, e1, w0);  // 32-35
    Sha1Schedule(w1, w2, w3, w0);
    Sha1Rounds4<1>(abcd, e1, e0, w1);  // 36-39
    Sha1Schedule(w2, w3, w0, w1);
    Sha1Rounds4<2>(abcd, e0, e1, w2);  // 40-43
    Sha1Schedule(w3, w0, w1, w2);
    Sha1Rounds4<2>(abcd, e1, e0, w3);  // 44-47
    Sha1Schedule(w0, w1, w2, w3);
    Sha1Rounds4<2>(abcd, e0, e1, w0);  // 48-51
    Sha1Schedule(w1, w2, w3, w0);
    Sha1Rounds4<2>(abcd, e1, e0, w1);  // 52-55
    Sha1Schedule(w2, w3, w0, w1);
    Sha1Rounds4<2>(abcd, e0, e1, w2);  // 56-59
    Sha1Schedule(w3, w0, w1, w2);
    Sha1Rounds4<3>(abcd, e1, e0, w3);  // 60-63
    Sha1Schedule(w0, w1, w2, w3);
    Sha1Rounds4<3>(abcd, e0, e1, w0);  // 64-67
    Sha1Schedule(w1, w2, w3, w0);
    Sha1Rounds4<3>(abcd, e1, e0, w1);  // 68-71
    Sha1Schedule(w2, w3, w0, w1);
    Sha1Rounds4<3>(abcd, e0, e1, w2);  // 72-75
    Sha1Schedule(w3, w0, w1, w2);
    Sha1Rounds4<3>(abcd, e1, e0, w3);  // 76-79

    // e0 now holds the A of round 76, which gives the final E.
    e0 = _mm_sha1nexte_epu32(e0, e_before);
    abcd = _mm_add_epi32(abcd, abcd_before);
  }

  abcd = _mm_shuffle_epi32(abcd, 0x1b);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace

Sha1BlocksFn Sha1Accelerated() { return HaveShaExtensions() ? &Sha1ShaNi : nullptr; }
Sha256BlocksFn Sha256Accelerated() { return HaveShaExtensions() ? &Sha256ShaNi : nullptr; }

}  // namespace launcher::sha_blocks

#else  // not an x86 CPU

namespace launcher::sha_blocks {

Sha1BlocksFn Sha1Accelerated() { return nullptr; }
Sha256BlocksFn Sha256Accelerated() { return nullptr; }

}  // namespace launcher::sha_blocks

#endif
