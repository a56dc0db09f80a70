// Reads arbitrary bytes as one line of the build's output, as the build's line handler does.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builder/builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  double done = 0;
  double total = 0;
  if (launcher::ParseBuildStep(line, done, total)) {
    // A step count is always a usable fraction.
    if (!(total >= 1) || !(done >= 0) || !std::isfinite(total) || !std::isfinite(done) ||
        std::signbit(done)) {
      std::abort();
    }
  }
  return 0;
}
