// The files the unpackers write: one output file opened for raw, unbuffered writes of large
// pieces, and the UTF-8 rendering of paths for their messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

// One file being written. The data arrives in large pieces (whole decoded chunks), so each
// Write goes straight to the system without a buffer of its own.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path` or empties the file already there. `executable` marks the file as a program
  // where the system has such a mark (POSIX execute bits; nothing on Windows).
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

}  // namespace launcher
