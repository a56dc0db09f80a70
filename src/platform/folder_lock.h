// The operating system's lock on a launcher's folder: while one launcher holds it, a second one
// started on the same folder can tell and leaves every file alone. The lock is an open file in
// the folder, "launcher.lock", locked by the system (flock on Linux, a file opened without
// sharing on Windows), so it goes with the process that holds it, however that process ends: a
// launcher that was killed never keeps the next one out. No child process inherits it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

// The lock file's name inside the folder.
inline constexpr const char* kFolderLockName = "launcher.lock";

class FolderLock {
 public:
  enum class Outcome {
    kHeld,           // this object holds the folder now
    kHeldElsewhere,  // another holder (in this process or another) has it
    kFailed,         // the folder or its lock file could not be made or opened
  };

  FolderLock() = default;
  ~FolderLock() { Release(); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Makes `folder` when it is missing and takes its lock without waiting, letting go of one
  // this object held before. Once held, another process can tell that a launcher holds it: the
  // lock file holds this process's ID in decimal (not on Windows, where nobody can read the held
  // file: there a named object of the folder's says so instead, FolderLockIsLauncher). On
  // kFailed `error` says why in one sentence.
  Outcome Take(const std::filesystem::path& folder, std::string& error);

  bool held() const { return native_ != kNone; }

  // Lets go of the lock, if held.
  void Release();

 private:
  // The file descriptor or the Windows handle; the same "none" on both (-1 is also
  // INVALID_HANDLE_VALUE).
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
  // On Windows the handle of the folder's named object, which lives as long as the lock; kNone
  // elsewhere, where nothing reads it.
  [[maybe_unused]] std::intptr_t marker_ = kNone;
};

// The process ID the folder's holder wrote into its lock file; 0 when there is none to read.
// Not on Windows, whose holder keeps its file closed to everyone else.
std::uint64_t FolderLockHolder(const std::filesystem::path& folder);

// The ID in the folder's lock file when the process of that number has this very lock file
// open (one of its descriptors leads to the same file: same device, same inode), which a
// launcher of this folder does for its whole run; 0 otherwise. A number that names nobody, a
// process of another PID namespace (whose number means another process here or none), a stale
// ID under a lock that a plain `flock` command holds: none of these counts. Not on Windows.
std::uint64_t FolderLockLauncher(const std::filesystem::path& folder);

// Whether the folder's lock is held by a launcher of that folder (on Linux FolderLockLauncher;
// on Windows the folder's named object that a launcher holding the lock keeps, there from the
// moment it has the lock, before it has a window). False for any other holder.
bool FolderLockIsLauncher(const std::filesystem::path& folder);

}  // namespace launcher
