#include <windows.h>

#include "platform/file_ops.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace fs = std::filesystem;
bool EntryExists(const fs::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool LastWriteTicks(const fs::path& path, int64_t& ticks) {
  // The system's own count, to the 100 ns; the C library's file status keeps whole seconds.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  ticks = static_cast<int64_t>((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                               data.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool IsLink(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RemoveEntry(const fs::path& path, std::string& error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = LastErrorWords();
    return false;
  }
  BOOL removed;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A junction or folder symbolic link loses only the link.
    removed = RemoveDirectoryW(path.c_str());
  } else {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    removed = DeleteFileW(path.c_str());
  }
  if (!removed) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

bool MoveReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

bool FlushToDisk(const fs::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

bool KeepProgramAside(const fs::path& program, const fs::path& kept, std::string& error) {
  std::error_code ec;
  if (!fs::exists(program, ec) && fs::is_regular_file(kept, ec)) return true;
  DeleteFileW(kept.c_str());
  return MoveReplacing(program, kept, error);
}

bool CopyReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  // The standard library's overwriting copy refuses an existing file here.
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

}  // namespace launcher
