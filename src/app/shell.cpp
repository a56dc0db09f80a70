#include "app/shell.h"

#include <system_error>

namespace launcher {

namespace fs = std::filesystem;

fs::path NearestExisting(const fs::path& path) {
  fs::path existing = path;
  std::error_code error;
  while (!existing.empty() && !fs::exists(existing, error)) {
    fs::path parent = existing.parent_path();
    if (parent == existing) {
      return {};  // a root that does not exist, such as a missing drive
    }
    existing = std::move(parent);
  }
  return existing;
}

}  // namespace launcher
