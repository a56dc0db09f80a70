#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/links.h"

namespace launcher::test {

bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool,
              std::string& why) {
  if (::symlink(target.c_str(), link.c_str()) == 0) return true;
  why = std::string("symlink: ") + std::strerror(errno);
  return false;
}

bool IsLink(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace launcher::test
