// The callbacks that long operations share, and the error text of a stopped one.
#pragma once

#include <cstdint>
#include <functional>

namespace launcher {

// Progress of a long operation as (done, total) byte counts; a total of 0 means unknown.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

// The error of a long operation that ended because its cancel flag was set. Every operation
// that stops on the flag reports exactly this, and the job runner turns it into the player's
// "Stopped" sentence.
inline constexpr const char* kCancelled = "cancelled";

// How a sentence for the player names the button that runs a stopped or failed operation again,
// after "press": the same button, where the sentence shows beside it. Where it shows on a page
// without that button, the sentence names the button's label and place instead, such as
// "\"Build the game again\" on Manage".
inline constexpr const char* kSameButton = "the button again";

}  // namespace launcher
