#include "platform/archive_path.h"

#include <vector>

#include "platform/platform.h"

namespace launcher {
namespace fs = std::filesystem;

bool IsSafeArchivePath(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    const size_t length = (end == std::string::npos ? name.size() : end) - start;
    if (name.compare(start, length, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

fs::path ArchiveDestPath(const fs::path& dest, const std::string& name) {
  fs::path path = dest / PathFromUtf8(name);
  path.make_preferred();
  return path;
}

std::string NormalizeSlashPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) {
    if (!result.empty()) result += '/';
    result += part;
  }
  return result;
}

}  // namespace launcher
