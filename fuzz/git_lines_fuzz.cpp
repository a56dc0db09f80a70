// git's output lines as the Builder reads them: the bytes cut at every CR or LF, each line
// looked at for a progress report. A report's detail is a prefix of its line without a colon.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builder/git_progress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    std::string detail;
    double fraction = 0;
    if (!line.empty() && launcher::ReadGitProgress(line, detail, fraction)) {
      if (line.compare(0, detail.size(), detail) != 0) std::abort();
      if (detail.find(':') != std::string::npos) std::abort();
      if (fraction != fraction) std::abort();  // never NaN
    }
    start = end + 1;
  }
  return 0;
}
