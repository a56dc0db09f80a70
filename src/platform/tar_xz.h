// Unpacking tar archives compressed with xz, in one streaming pass.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/progress.h"
#include "platform/archive_path.h"

namespace launcher {

// Writes every regular file the mapper keeps and turns hard and symbolic links into copies of
// files written earlier in the same archive (a link that cannot be resolved that way, or whose
// mapped name is unsafe, creates nothing). A file takes its name only whole: written in one piece
// when its data is all in one decoded chunk, else through a temporary beside it. Progress counts
// the compressed bytes read against the archive's size. The mapper and the progress callback run on
// the calling thread; the cancel flag is read before each decoder call. A file of several xz
// streams one after the other is read whole, as xz reads it; the tar data ends at its end marker
// (two zero blocks) or, without one, between two entries, and what follows the marker is checked as
// xz data but not written. The xz blocks are decoded on several cores where the archive has many,
// and ahead of the files being written. A stream that needs more than a 1 GiB dictionary fails with
// the memory-limit number (4). Errors: "cannot open <archive>", "out of memory for the xz decoder",
// "cancelled", "the xz data is damaged (<number>) in <archive>", "the xz file ends early:
// <archive>", "the tar data ends early: <archive>" (the xz data is whole but the tar data ends
// inside an entry), "unsafe path in the archive: <entry>", "cannot unpack the sparse file <entry>
// from <archive>", "cannot write <path> (<code>: <the system's words>)" (a file or a link's copy
// that cannot be made or written whole), with " (is the drive full?)" after it for a full disk.
bool ExtractTarXz(const std::filesystem::path& archive, const std::filesystem::path& dest,
                  const NameMapper& mapper, const ProgressFn& progress,
                  const std::atomic<bool>* cancel, std::string& error);

}  // namespace launcher
