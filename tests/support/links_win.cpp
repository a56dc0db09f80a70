#include <windows.h>

#include "support/links.h"

namespace launcher::test {

bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder,
              std::string& why) {
  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (folder) flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
  if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) {
    why = "CreateSymbolicLinkW failed with error " + std::to_string(GetLastError());
    return false;
  }
  // Wine reports success and makes nothing, as it does for junctions.
  if (!IsLink(link)) {
    why = "CreateSymbolicLinkW reported success but made no link";
    return false;
  }
  return true;
}

bool IsLink(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace launcher::test
