// File-system helpers that the standard library does not give the same way on every system, or
// not without exceptions: links (junctions on Windows) seen as links, removal that never follows
// a link, the replacing move, and reading a whole file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Something exists under this name; a link counts by itself, even when its target is gone.
bool EntryExists(const std::filesystem::path& path);

// A symbolic link, or on Windows any reparse point (a folder junction among them).
bool IsLink(const std::filesystem::path& path);

// Removes a file, an empty folder or a link itself (never its target). On failure `error` gets
// the system's words for the reason.
bool RemoveEntry(const std::filesystem::path& path, std::string& error);

// Removes `path` with everything beneath it, without entering links; nothing there is success.
// It goes on past what cannot go, so that as much as can goes now. On failure `error` gets the
// system's words for the first entry that stayed, and `failed`, when given, that entry.
bool RemoveTree(const std::filesystem::path& path, std::string& error,
                std::filesystem::path* failed = nullptr);

// The entries of `folder`, listed whole before any is used (changing a folder while reading it
// may make the reading skip some); none when it cannot be listed.
std::vector<std::filesystem::path> ListFolder(const std::filesystem::path& folder);

// Bytes of every file beneath `folder` (itself followed when it is a link), found by a walk that
// never enters a link below it and skips what it cannot read; 0 when it cannot be listed.
uint64_t SizeBeneath(const std::filesystem::path& folder);

// Renames `from` to `to`, replacing an existing file there (on Windows a copy between volumes
// is allowed). On failure `error` gets the system's words for the reason.
bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& error);

// Keeps the program at `program` as `kept` too, the first half of swapping in a new program
// (the second renames the new one over `program`). Where the system allows (not Windows), a
// second name for the same file is made, so that `program` never goes missing, even when the
// launcher is ended between the two halves; on Windows a running program cannot be replaced
// and is renamed to `kept` instead, and a `program` already gone with `kept` in place counts as
// done, so that a swap ended between its halves can be finished. On failure `error` gets the
// system's words for the reason.
bool KeepProgramAside(const std::filesystem::path& program, const std::filesystem::path& kept,
                      std::string& error);

// Copies the file `from` to `to`, replacing a file there. On failure `error` gets the system's
// words for the reason.
bool CopyReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& error);

// Asks the system to put the file's data on the disk before it returns, so that a power cut
// after a rename cannot leave the new name on an empty file; false when it cannot.
bool FlushToDisk(const std::filesystem::path& path);

// Puts the data of every file beneath `folder` on the disk before it returns: on Linux one
// syncfs of the file system that holds it (which takes every file written there, and the names
// made for them), on Windows a flush of each file, found by a walk that never enters a link.
// False with the system's words in `error` when it cannot (on Windows: for the first file that
// could not be flushed; the others are flushed all the same).
bool FlushFilesBeneath(const std::filesystem::path& folder, std::string& error);

// Puts the folder's own entries on the disk: the names that were made, renamed or removed in it
// (an fsync of the folder on Linux, a flush of the folder's handle on Windows). False with the
// system's words in `error` when it cannot.
bool FlushFolder(const std::filesystem::path& folder, std::string& error);

// Replaces the file's content with `bytes` (binary, no line-end translation); false when the
// file cannot be written whole.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` to "<path>.tmp", flushes it to the disk and renames it over `path`, so that
// the file is at every moment either the old one or the new one, whole, even when the program
// is ended halfway, the disk fills or the power goes; false (the old file untouched, the
// temporary removed) when it cannot. The temporary has one name: one left by a program that was
// ended is written over by the next write. In text mode line ends are written the system's way
// (CR LF on Windows).
enum class FileMode { kBinary, kText };
bool ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes,
                      FileMode mode = FileMode::kBinary);

// True when the file can be read and holds exactly `stamp`, byte for byte.
bool StampEquals(const std::filesystem::path& file, const std::string& stamp);

// The last-write time as 100-nanosecond intervals since 1601-01-01 UTC; false when unreadable.
bool LastWriteTicks(const std::filesystem::path& path, int64_t& ticks);

// Assigns the whole file (raw bytes) to `out`; false, leaving `out` alone, when it is missing,
// a folder or unreadable.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace launcher
