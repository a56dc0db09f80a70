// Unpacking zip archives through a name mapper.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/archive_path.h"
#include "platform/progress.h"

namespace launcher {

// Writes every file entry the mapper keeps (names with '\' read as '/'; folder entries are
// skipped, folders are made as the parents of written files); an existing file is replaced.
// Progress counts the uncompressed bytes of the entries written against the sum over all
// entries, reported after each written entry. The cancel flag is read before each entry.
// A file takes its name only whole: written in one piece when it fits the copy buffer (read
// whole first), else through a temporary beside it that is renamed when whole.
// Errors: "cannot open <zip> as a zip", "cancelled", "unsafe path in <zip>: <entry>",
// "cannot write <output> from <zip> (<reason>)", the reason being the system's "<code>: <words>"
// (then " (is the drive full?)" for a full disk), "compression method <number> is not
// supported", "the entry's data is damaged" or libzip's own words.
bool ExtractZip(const std::filesystem::path& zip, const std::filesystem::path& dest,
                const NameMapper& mapper, const ProgressFn& progress,
                const std::atomic<bool>* cancel, std::string& error);

}  // namespace launcher
