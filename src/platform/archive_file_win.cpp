#include "platform/archive_file.h"

#include <windows.h>

namespace launcher {
namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

OutputFile::~OutputFile() { Close(); }

bool OutputFile::is_open() const { return handle_ != -1; }

// Only symbolic links and junctions count: other reparse points (cloud placeholders, dedup
// files) hold the file's own data.
bool RemoveLink(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;  // the common case, without the cost of a search
  }
  WIN32_FIND_DATAW data;
  const HANDLE found = FindFirstFileW(path.c_str(), &data);
  if (found == INVALID_HANDLE_VALUE) return false;
  FindClose(found);
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  const DWORD tag = data.dwReserved0;
  if (tag != IO_REPARSE_TAG_SYMLINK && tag != IO_REPARSE_TAG_MOUNT_POINT) return false;
  // A folder link is removed as a folder: only the link goes, never what it points at.
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return RemoveDirectoryW(path.c_str()) != 0;
  }
  return DeleteFileW(path.c_str()) != 0;
}

// Windows files have no execute mark: programs are known by their suffix.
bool OutputFile::Open(const std::filesystem::path& path, bool /*executable*/) {
  Close();
  RemoveLink(path);
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
