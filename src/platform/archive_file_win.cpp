#include "platform/archive_file.h"

#include <windows.h>

namespace launcher {
namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

OutputFile::~OutputFile() { Close(); }

bool OutputFile::is_open() const { return handle_ != -1; }

// Windows files have no execute mark: programs are known by their suffix.
bool OutputFile::Open(const std::filesystem::path& path, bool /*executable*/) {
  Close();
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (handle_ == -1) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, piece, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool OutputFile::Close() {
  if (handle_ == -1) return true;
  const BOOL closed = CloseHandle(AsHandle(handle_));
  handle_ = -1;
  return closed != 0;
}

}  // namespace launcher
