// The rules that decide an archive entry's name: the tool rules (strip, keep patterns, .vsix
// names), the package rule, the safe-path rule and the slash-path normaliser, on any names and
// patterns.
//
// Input: the name, a NUL, the kind, a NUL, the strip count as text, then keep patterns separated
// by NULs.
#include <cstdint>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "catalogue/entry_names.h"
#include "catalogue/file_names.h"
#include "fuzz_support.h"
#include "platform/tar_xz.h"
#include "platform/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using launcher::fuzz::Check;
  const std::vector<std::string> parts = fuzz::SplitAtNul(data, size, 4);
  const std::string& name = parts[0];

  Tool tool;
  tool.kind = parts[1];
  tool.strip = parts[2].empty() ? 0 : static_cast<signed char>(parts[2][0]);
  for (const std::string& pattern : fuzz::SplitAtNul(
           reinterpret_cast<const uint8_t*>(parts[3].data()), parts[3].size(), 8)) {
    if (!pattern.empty()) tool.keep.push_back(pattern);
  }

  const std::string mapped = MapEntryName(tool, name);
  Check(mapped.empty() || mapped.back() != '/', "a folder name was kept: " + mapped);
  if (tool.kind != "vsix" && !mapped.empty()) {
    Check(name.size() >= mapped.size() &&
              name.compare(name.size() - mapped.size(), mapped.size(), mapped) == 0,
          "the mapped name is not the end of the entry's name");
  }

  const std::string decoded = PercentDecode(name);
  Check(decoded.size() <= name.size(), "decoding made the name longer");
  Check(StripComponents(name, 0) == name, "stripping nothing changed the name");

  // The zip unpacker hands the package rule names with '/' only; of those it keeps safe ones.
  if (name.find('\\') == std::string::npos) {
    const std::string package = MapPackageEntry(name);
    Check(package.empty() || IsSafeArchivePath(package),
          "the package rule kept an unsafe name: " + package);
  }

  const std::string normal = NormalizeSlashPath(name);
  Check(NormalizeSlashPath(normal) == normal, "normalising twice changed the path: " + normal);
  Check(normal.empty() || normal.front() != '/', "a normal path begins with '/'");

  if (IsSafeArchivePath(name)) {
    Check(name.find(':') == std::string::npos && name.front() != '/' && name.front() != '\\',
          "an unsafe name passed: " + name);
  }
  return 0;
}
