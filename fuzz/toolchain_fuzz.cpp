// toolchain.json, and the .msi bytes the cabinet names are found in: any text gives tools or one
// sentence, and any bytes give well-formed cabinet names.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/toolchain.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using launcher::fuzz::Check;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<Tool> tools;
  std::string error;
  const bool ok = ParseToolchain(text, tools, error);
  Check(ok || !error.empty(), "a refused toolchain.json gave no sentence");
  for (const Tool& tool : tools) {
    Check(!tool.id.empty(), "a tool without an id");
    tool.TotalSize();
  }

  const std::vector<std::string> cabs = FindCabNames(std::vector<uint8_t>(data, data + size));
  Check(std::is_sorted(cabs.begin(), cabs.end()) &&
            std::adjacent_find(cabs.begin(), cabs.end()) == cabs.end(),
        "cabinet names are not sorted and distinct");
  for (const std::string& cab : cabs) {
    Check(cab.size() == 36 && cab.substr(32) == ".cab" &&
              std::all_of(cab.begin(), cab.begin() + 32,
                          [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }),
          "a cabinet name of another form: " + cab);
  }
  return 0;
}
