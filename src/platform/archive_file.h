// The files and folders the unpackers write: one output file opened for raw, unbuffered writes
// of large pieces, and the folders on its way. Neither is ever reached through a link that was
// already in the destination: such a link is replaced, so nothing lands outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace launcher {

// One file being written. The data arrives in large pieces (whole decoded chunks), so each
// Write goes straight to the system without a buffer of its own.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path` or empties the file already there; a link at `path` (a symbolic link, on
  // Windows also a junction) is removed first, never followed. `executable` marks the file as a
  // program where the system has such a mark (POSIX execute bits; nothing on Windows).
  bool Open(const std::filesystem::path& path, bool executable);
  // Appends all `size` bytes; false when the system takes fewer (a full disk).
  bool Write(const void* data, size_t size);
  // Closes the file; false when the system reports a failure at that point. Nothing to do
  // when no file is open.
  bool Close();
  bool is_open() const;

 private:
  // A file descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE) when closed.
  intptr_t handle_ = -1;
};

// Removes `path` itself when it is a link (a symbolic link; on Windows also a junction),
// leaving what it points at alone. True when a link was removed.
bool RemoveLink(const std::filesystem::path& path);

// Makes the folders that entries of one unpack are written into, below the destination folder.
// A link met on the way (one the unpack did not make) is replaced by a real folder. The last
// folder made is remembered, so that the files of one folder cost no more system calls.
class ArchiveFolders {
 public:
  ArchiveFolders() = default;
  explicit ArchiveFolders(std::filesystem::path dest) : dest_(std::move(dest)) {}

  // Makes the destination and the parent folders of `name` (a safe '/'-separated path below
  // it). A failure is not reported here: it shows when the file is opened.
  void MakeParents(const std::string& name);

 private:
  std::filesystem::path dest_;
  std::filesystem::path last_;  // relative to dest_; empty before the first call
  bool made_any_ = false;
};

}  // namespace launcher
