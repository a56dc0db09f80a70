// What an unpacker left in a folder, in a form tests can compare.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace launcher::test {

// Every regular file under `folder`: its path relative to the folder ('/' separators) and its
// content.
std::map<std::string, std::string> FilesUnder(const std::filesystem::path& folder);

// Every entry under `folder` (files, folders, links), relative with '/' separators; folders end
// in '/', symbolic links in '@'.
std::set<std::string> EntriesUnder(const std::filesystem::path& folder);

}  // namespace launcher::test
