#include "support/file_tree.h"

#include <system_error>

#include "support/scratch.h"

namespace launcher::test {
namespace fs = std::filesystem;
namespace {

std::string Relative(const fs::path& path, const fs::path& folder) {
  const std::u8string text = path.lexically_relative(folder).generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::map<std::string, std::string> FilesUnder(const fs::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file() && !it->is_symlink()) {
      files[Relative(it->path(), folder)] = ReadFile(it->path());
    }
  }
  return files;
}

std::set<std::string> EntriesUnder(const fs::path& folder) {
  std::set<std::string> entries;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string name = Relative(it->path(), folder);
    if (it->is_symlink()) {
      name += '@';
    } else if (it->is_directory()) {
      name += '/';
    }
    entries.insert(name);
  }
  return entries;
}

}  // namespace launcher::test
