// The File table read from msiinfo's output lines, whatever the tool printed: a name for each
// row, or a refusal, never a crash.
//
// Input: the tool's output; it is cut into lines at every CR and LF, empty lines left out, as
// the child process runner delivers them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/msi_file_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r' || c == '\n') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  std::vector<std::string> names;
  if (launcher::ParseMsiFileTable(lines, names) && names.size() + 3 != lines.size()) {
    std::fprintf(stderr, "fuzz check failed: a name for each row\n");
    std::abort();
  }
  return 0;
}
