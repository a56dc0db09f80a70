// The callbacks that long operations share.
#pragma once

#include <cstdint>
#include <functional>

namespace launcher {

// Progress of a long operation as (done, total) byte counts; a total of 0 means unknown.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

}  // namespace launcher
