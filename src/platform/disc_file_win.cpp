// Disc image files on Windows: opened for overlapped reads; every read carries its own
// OVERLAPPED with the offset, and waits on an event that belongs to the calling thread, so
// threads never share a file position or an event.
#include <windows.h>

#include "platform/disc_image.h"

namespace launcher {
namespace {

// The calling thread's manual-reset event, made on its first read and closed when it ends.
class ThreadEvent {
 public:
  ~ThreadEvent() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HANDLE Get() {
    if (handle_ == nullptr) handle_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return handle_;
  }

 private:
  HANDLE handle_ = nullptr;
};

thread_local ThreadEvent t_read_event;

class WinDiscFile final : public DiscFile {
 public:
  explicit WinDiscFile(HANDLE file) : file_(file) {}
  ~WinDiscFile() override { CloseHandle(file_); }
  WinDiscFile(const WinDiscFile&) = delete;
  WinDiscFile& operator=(const WinDiscFile&) = delete;

  DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    const HANDLE event = t_read_event.Get();
    if (event == nullptr) return {0, GetLastError()};
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    overlapped.hEvent = event;
    if (!ReadFile(file_, buffer, size, nullptr, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failed(0, error);
    }
    DWORD transferred = 0;
    if (!GetOverlappedResult(file_, &overlapped, &transferred, TRUE)) {
      return Failed(transferred, GetLastError());
    }
    return {transferred, 0};
  }

  uint64_t Size() override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }

 private:
  // Reading at or past the end of the file is not a failure of the storage: like a POSIX read
  // there, it succeeds with the bytes that were there.
  static DiscReadResult Failed(DWORD transferred, DWORD error) {
    if (error == ERROR_HANDLE_EOF) return {transferred, 0};
    return {transferred, error};
  }

  HANDLE file_;
};

}  // namespace

std::unique_ptr<DiscFile> OpenDiscFile(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinDiscFile>(file);
}

}  // namespace launcher
