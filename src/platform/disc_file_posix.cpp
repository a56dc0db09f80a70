// Disc image files on POSIX systems: positional reads (pread), so threads never share a file
// position.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disc_image.h"

namespace launcher {
namespace {

// The path as the system's (UTF-8) bytes; code points that cannot be encoded become U+FFFD.
std::string PathBytes(const std::wstring& path) {
  std::string out;
  for (wchar_t wide : path) {
    auto c = static_cast<uint32_t>(wide);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class PosixDiscFile final : public DiscFile {
 public:
  explicit PosixDiscFile(int fd) : fd_(fd) {}
  ~PosixDiscFile() override { close(fd_); }
  PosixDiscFile(const PosixDiscFile&) = delete;
  PosixDiscFile& operator=(const PosixDiscFile&) = delete;

  DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    for (;;) {
      const ssize_t got = pread(fd_, buffer, size, static_cast<off_t>(offset));
      if (got >= 0) return {static_cast<uint32_t>(got), 0};  // 0 at the end of the file
      if (errno != EINTR) return {0, static_cast<uint32_t>(errno)};
    }
  }

  uint64_t Size() override {
    struct stat info {};
    return fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DiscFile> OpenDiscFile(const std::wstring& path) {
  const int fd = open(PathBytes(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {  // a folder opens but cannot be read
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixDiscFile>(fd);
}

}  // namespace launcher
