#include "platform/folder_lock.h"

#include <string>

#include "platform/file_ops.h"

namespace launcher {

std::uint64_t FolderLockHolder(const std::filesystem::path& folder) {
  std::string text;
  if (!ReadWholeFile(folder / kFolderLockName, text) || text.empty() || text.size() > 19) {
    return 0;
  }
  std::uint64_t id = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    id = id * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return id;
}

}  // namespace launcher
