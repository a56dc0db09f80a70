// Unpacking tar archives compressed with xz, in one streaming pass.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/progress.h"
#include "platform/zip.h"

namespace launcher {

// Writes every regular file the mapper keeps and turns hard and symbolic links into copies of
// files written earlier in the same archive (a link that cannot be resolved that way, or whose
// mapped name is unsafe, creates nothing). Progress counts the compressed bytes read against
// the archive's size, reported after every read on the calling thread; the cancel flag is read
// before each decoder call. The xz blocks are decoded on several cores where the archive has
// many, and the files are written while the next data is decoded. A stream that needs more
// than a 1 GiB dictionary fails with the memory-limit number (4).
// Errors: "cannot open <archive>", "out of memory for the xz decoder", "cancelled",
// "the xz data is damaged (<number>) in <archive>", "the xz file ends early: <archive>",
// "unsafe path in the archive: <entry>", "cannot write <path>" (also for a write that fails
// part way, such as on a full disk).
bool ExtractTarXz(const std::filesystem::path& archive, const std::filesystem::path& dest,
                  const NameMapper& mapper, const ProgressFn& progress,
                  const std::atomic<bool>* cancel, std::string& error);

// Drops empty and "." components and resolves ".." against the component before it (a ".."
// with nothing before it is dropped); the result has no leading '/'.
std::string NormalizeSlashPath(const std::string& path);

}  // namespace launcher
