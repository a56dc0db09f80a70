#include "platform/archive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace launcher {

OutputFile::~OutputFile() { Close(); }

bool OutputFile::is_open() const { return handle_ != -1; }

bool RemoveLink(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool OutputFile::Open(const std::filesystem::path& path, bool executable) {
  Close();
  // O_NOFOLLOW refuses a link at the path itself (ELOOP): it goes, and the open is tried again.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  int fd = ::open(path.c_str(), kFlags, 0666);
  if (fd < 0 && errno == ELOOP && RemoveLink(path)) fd = ::open(path.c_str(), kFlags, 0666);
  if (fd < 0) return false;
  handle_ = fd;
  if (executable) {
    // An existing file keeps its mode when it is emptied, so add the execute bits here: one
    // for each read bit, as the umask left them.
    struct stat st;
    if (::fstat(fd, &st) == 0) {
      const mode_t mode = st.st_mode & 07777;
      ::fchmod(fd, mode | ((mode & 0444) >> 2));
    }
  }
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (handle_ == -1) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::Close() {
  if (handle_ == -1) return true;
  const int result = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return result == 0 || errno == EINTR;
}

}  // namespace launcher
