// The block functions behind Sha1 and Sha256, and the choice between the portable code and the
// CPU's SHA instructions. Internal to the digests; tests and the benchmark use it to run both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace launcher::sha_blocks {

// Each processes `count` consecutive 64-byte blocks into `state`.
using Sha1BlocksFn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count);
using Sha256BlocksFn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count);

// The FIPS 180-4 code in plain C++; runs everywhere.
void Sha1Portable(uint32_t* state, const uint8_t* blocks, size_t count);
void Sha256Portable(uint32_t* state, const uint8_t* blocks, size_t count);

// The x86 SHA extensions code; nullptr where this build or this CPU does not have it.
Sha1BlocksFn Sha1Accelerated();
Sha256BlocksFn Sha256Accelerated();

// The block functions the digests use now.
Sha1BlocksFn Sha1Active();
Sha256BlocksFn Sha256Active();

// For tests and the benchmark: true makes every digest use the portable code, false goes back to
// the best code for this CPU. Call it only while no digest is being computed.
void UsePortable(bool portable);

}  // namespace launcher::sha_blocks
