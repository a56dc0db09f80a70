#include "platform/archive_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace launcher {

bool RemoveLink(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool IsDiskFullError(uint32_t code) { return code == ENOSPC; }

// O_EXCL with O_NOFOLLOW: whatever is at the name already, a link among it, is neither followed
// nor written over. A program gets an execute bit for each read bit the umask leaves.
OutputFile::Opened OutputFile::OpenTemporary(bool executable) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  const int fd = ::open(temp_.c_str(), kFlags, executable ? 0777 : 0666);
  if (fd < 0) return errno == EEXIST ? Opened::kNameTaken : Opened::kFailed;
  handle_ = fd;
  return Opened::kYes;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (handle_ == -1) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;  // a regular file takes nothing only when there is no room
    if (written <= 0) return Fail();
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::CloseFile() {
  if (handle_ == -1) return true;
  const int result = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return result == 0 || errno == EINTR;
}

// rename replaces a link at the file's name, never what it points at.
bool OutputFile::RenameIntoPlace() { return ::rename(temp_.c_str(), path_.c_str()) == 0; }

void OutputFile::RemoveTemporary() { ::unlink(temp_.c_str()); }

}  // namespace launcher
