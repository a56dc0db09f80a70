// The files and folders the unpackers write: one output file at a time, which takes its name
// only whole, written with raw, unbuffered writes of large pieces, and the folders on its way.
// Neither is ever reached through a link that was already in the destination: such a link is
// replaced, so nothing lands outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace launcher {

// One file being written. The data arrives in large pieces (whole decoded chunks), so each
// Write goes straight to the system without a buffer of its own. The bytes go to a temporary
// beside the file, which takes the file's name only once it is whole (Commit): a file cut short
// by a full disk, a damaged archive or an ended program never stands under its real name. A
// file whose data is all in hand (most files of an archive are small) is written in one piece
// under a new name instead (WriteWhole), which saves the rename; only a program ended inside
// that one write can leave it short.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discards a file that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the file that will be `path`, in a new temporary in its folder; `path` itself is left
  // as it is until Commit. `executable` marks the file as a program where the system has such a
  // mark (POSIX execute bits, as the umask allows; nothing on Windows).
  bool Open(const std::filesystem::path& path, bool executable);
  // Appends all `size` bytes; false when the system takes fewer (a full disk).
  bool Write(const void* data, size_t size);
  // Closes the temporary and renames it to the file's name, replacing what is there; a link
  // there (a symbolic link, on Windows also a junction) is replaced itself, never followed.
  bool Commit();
  // The whole file at once: `size` bytes of `data` (none for an empty file). A name not yet
  // taken is created and written directly, and removed again when the write fails; a name
  // already taken (a file, or a link) is replaced through a temporary, as Open, Write and Commit
  // do.
  bool WriteWhole(const std::filesystem::path& path, bool executable, const void* data,
                  size_t size);
  // Closes and removes the temporary; nothing to do when no file is open.
  void Discard();
  bool is_open() const;

  // After a call that returned false: `text`, then the system's reason in the "(code: words)"
  // form, then " (is the drive full?)" when the disk or its table of files is full and the
  // system's words do not say so already. A failing
  // call discards the file, so that nothing of it is left behind.
  std::string ErrorText(const std::string& text) const;

 private:
  enum class Opened { kYes, kNameTaken, kFailed };

  bool Fail();  // keeps the system's error, discards the file, returns false
  // Creates `temp_` anew, never opening what is already there.
  Opened OpenTemporary(bool executable);
  bool CloseFile();
  bool RenameIntoPlace();
  void RemoveTemporary();

  // A file descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE) when closed.
  intptr_t handle_ = -1;
  // The file's own name, and the temporary its bytes go to until Commit, as the system's text.
  std::filesystem::path::string_type path_;
  std::filesystem::path::string_type temp_;
  uint32_t error_ = 0;  // the system's error of the last failure
};

// Whether a system error code (errno on POSIX, GetLastError on Windows) says that the disk has
// no room left.
bool IsDiskFullError(uint32_t code);

// " (is the drive full?)" after the system's words for a full disk, `words`, unless they say so
// already ("Disk full.", "No space left on device"); "" then.
std::string DiskFullHint(const std::string& words);

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
