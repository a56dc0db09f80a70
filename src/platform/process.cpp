// The portable half of running a child process: cutting its output into lines.
#include "platform/platform_detail.h"

namespace launcher {

void LineSplitter::Feed(const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      Deliver();
    } else {
      line_.push_back(c);
    }
  }
}

void LineSplitter::Finish() { Deliver(); }

void LineSplitter::Deliver() {
  if (!line_.empty() && sink_) sink_(line_);
  line_.clear();
}

}  // namespace launcher
