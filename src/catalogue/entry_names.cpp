#include "catalogue/entry_names.h"

#include "catalogue/file_names.h"
#include "platform/ascii.h"

namespace launcher {
namespace {

// A .vsix package keeps its payload under this folder, beside the package format's own files.
constexpr std::string_view kVsixContents = "Contents/";

// '*' matches any run of characters without '/', the empty run included; every other pattern
// character matches only itself. On a mismatch the most recent '*' takes one more character.
bool GlobMatches(const std::string& pattern, const std::string& name) {
  constexpr size_t kNone = std::string::npos;
  size_t p = 0;
  size_t n = 0;
  size_t star = kNone;  // position of the most recent '*' in the pattern
  size_t taken = 0;     // where the characters that star has taken end in the name
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      taken = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else {
      if (star == kNone || name[taken] == '/') return false;
      n = ++taken;
      p = star + 1;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool KeepPatternMatches(const std::string& pattern, const std::string& name) {
  if (!pattern.empty() && pattern.back() == '/') return StartsWith(name, pattern);
  return GlobMatches(pattern, name);
}

}  // namespace

std::string StripComponents(const std::string& name, int count) {
  if (count <= 0) return name;
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const size_t slash = name.find('/', start);
    if (slash == std::string::npos) return "";
    start = slash + 1;
  }
  return name.substr(start);
}

std::string MapEntryName(const Tool& tool, const std::string& name) {
  std::string mapped = name;
  if (tool.kind == "vsix") {
    mapped = PercentDecode(mapped);
    if (!StartsWith(mapped, kVsixContents)) return "";
    mapped.erase(0, kVsixContents.size());
  }
  mapped = StripComponents(mapped, tool.strip);
  if (mapped.empty() || mapped.back() == '/') return "";
  if (tool.keep.empty()) return mapped;
  for (const std::string& pattern : tool.keep) {
    if (KeepPatternMatches(pattern, mapped)) return mapped;
  }
  return "";
}

}  // namespace launcher
