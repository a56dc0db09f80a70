#include "platform/archive_file.h"

#include <system_error>

#include "platform/platform.h"

namespace launcher {
namespace fs = std::filesystem;

void ArchiveFolders::MakeParents(const std::string& name) {
  const fs::path relative = PathFromUtf8(name).parent_path();
  if (made_any_ && relative == last_) return;
  std::error_code ec;
  fs::create_directories(dest_, ec);
  fs::path folder = dest_;
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") continue;
    folder /= part;
    RemoveLink(folder);
    fs::create_directory(folder, ec);
    if (ec) return;
  }
  last_ = relative;
  made_any_ = true;
}

}  // namespace launcher
