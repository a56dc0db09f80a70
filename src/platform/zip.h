// Unpacking zip archives through a name mapper, and the safe-path rule every unpacker shares.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/progress.h"

namespace launcher {

// Turns an archive entry's name ('/' separators) into the relative path to write ('/'
// separators), or "" to leave the entry out. An empty function is the identity. Every non-empty
// result must pass IsSafeArchivePath, else the unpack fails.
using NameMapper = std::function<std::string(const std::string&)>;

// False for an empty name, a leading '/' or '\', any ':', or a ".." component (split at '/'
// and '\'): such a name could land outside the destination folder. "." and empty components
// are allowed, and so are names like "a..b".
bool IsSafeArchivePath(const std::string& name);

// The destination folder joined with a '/'-separated UTF-8 name.
std::filesystem::path ArchiveDestPath(const std::filesystem::path& dest, const std::string& name);

// Writes every file entry the mapper keeps (names with '\' read as '/'; folder entries are
// skipped, folders are made as the parents of written files); an existing file is replaced.
// Progress counts the uncompressed bytes of the entries written against the sum over all
// entries, reported after each written entry. The cancel flag is read before each entry.
// Errors: "cannot open <zip> as a zip", "cancelled", "unsafe path in <zip>: <entry>",
// "cannot write <output> from <zip>" (also for damaged data and a write that fails part way).
bool ExtractZip(const std::filesystem::path& zip, const std::filesystem::path& dest,
                const NameMapper& mapper, const ProgressFn& progress,
                const std::atomic<bool>* cancel, std::string& error);

}  // namespace launcher
