#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <system_error>

#include "platform/file_ops.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"

namespace launcher {
namespace {

// Puts this process's ID in place of the file's content; false when the file would not take it.
bool WriteOwnId(int fd) {
  const std::string id = std::to_string(getpid());
  return ftruncate(fd, 0) == 0 && pwrite(fd, id.data(), id.size(), 0) == ssize_t(id.size());
}

// Whether one of process `id`'s open descriptors leads to the file `device` and `inode` name.
// A process of another user, or one that has gone, shows nothing and so has none.
bool HasFileOpen(std::uint64_t id, dev_t device, ino_t inode) {
  const std::string fds = "/proc/" + std::to_string(id) + "/fd";
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(fds.c_str()), closedir);
  if (!dir) return false;
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat target {};
    // stat follows the descriptor's link to the open file itself, wherever it was opened from.
    if (stat((fds + "/" + entry->d_name).c_str(), &target) == 0 && target.st_dev == device &&
        target.st_ino == inode) {
      return true;
    }
  }
  return false;
}

}  // namespace

FolderLock::Outcome FolderLock::Take(const std::filesystem::path& folder, std::string& error) {
  Release();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::filesystem::path file = folder / kFolderLockName;
  // O_CLOEXEC: a program the launcher starts (the game, git) must not keep the folder locked
  // once the launcher has ended.
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = LastErrorText(("Could not open " + PathToUtf8(file)).c_str()) + ".";
    return Outcome::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool elsewhere = errno == EWOULDBLOCK;
    if (!elsewhere) error = LastErrorText(("Could not lock " + PathToUtf8(file)).c_str()) + ".";
    close(fd);
    return elsewhere ? Outcome::kHeldElsewhere : Outcome::kFailed;
  }
  native_ = fd;
  // The holder's ID, for a second launcher that wants this one's window brought forward. The
  // lock holds without it: when the write fails, FolderLockHolder finds no ID.
  WriteOwnId(fd);
  return Outcome::kHeld;
}

void FolderLock::Release() {
  if (native_ == kNone) return;
  // Closing the only descriptor of the open file lets go of its flock.
  close(static_cast<int>(native_));
  native_ = kNone;
}

std::uint64_t FolderLockHolder(const std::filesystem::path& folder) {
  std::string text;
  if (!ReadWholeFile(folder / kFolderLockName, text) || text.empty() || text.size() > 19) {
    return 0;
  }
  std::uint64_t id = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    id = id * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return id;
}

bool FolderLockIsLauncher(const std::filesystem::path& folder) {
  return FolderLockLauncher(folder) != 0;
}

std::uint64_t FolderLockLauncher(const std::filesystem::path& folder) {
  const std::uint64_t id = FolderLockHolder(folder);
  struct stat lock_file {};
  if (id == 0 || stat((folder / kFolderLockName).c_str(), &lock_file) != 0) return 0;
  return HasFileOpen(id, lock_file.st_dev, lock_file.st_ino) ? id : 0;
}

}  // namespace launcher
