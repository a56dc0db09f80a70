// Links made in a test's scratch folder, as another program (or a player) might leave them in a
// folder the launcher writes into.
#pragma once

#include <filesystem>
#include <string>

namespace launcher::test {

// Makes `link` a symbolic link to `target` (a folder link when `folder`). False with the reason
// in `why` when the system does not make one (Windows without the right to, Wine).
bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder,
              std::string& why);

// True when `path` itself is a link (not followed).
bool IsLink(const std::filesystem::path& path);

}  // namespace launcher::test
