// The path rules every unpacker shares: the name mapper that decides what an entry becomes, the
// safe-path rule its results must pass, and where a kept entry lands.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace launcher {

// Turns an archive entry's name ('/' separators) into the relative path to write ('/'
// separators), or "" to leave the entry out. An empty function is the identity. Every non-empty
// result must pass IsSafeArchivePath, else the unpack fails. The unpackers call it on the
// thread that called them.
using NameMapper = std::function<std::string(const std::string&)>;

// False for an empty name, a leading '/' or '\', any ':', or a ".." component (split at '/'
// and '\'): such a name could land outside the destination folder. "." and empty components
// are allowed, and so are names like "a..b".
bool IsSafeArchivePath(const std::string& name);

// The destination folder joined with a '/'-separated UTF-8 name.
std::filesystem::path ArchiveDestPath(const std::filesystem::path& dest, const std::string& name);

// Drops empty and "." components and resolves ".." against the component before it (a ".."
// with nothing before it is dropped); the result has no leading '/'.
std::string NormalizeSlashPath(const std::string& path);

}  // namespace launcher
