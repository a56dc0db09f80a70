#include <windows.h>

#include <system_error>
#include <vector>

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

namespace {

// Flushes the file or folder `path` through a handle of its own; false with the system's words.
bool FlushHandleOf(const fs::path& path, DWORD flags, std::string& error) {
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastErrorWords();
    return false;
  }
  const bool flushed = FlushFileBuffers(handle) != 0;
  if (!flushed) error = LastErrorWords();
  CloseHandle(handle);
  return flushed;
}

}  // namespace

// The system keeps one cache per file, whoever wrote it: a flush through a handle opened here
// writes what the unpacker and the game's own code preparation left in it.
bool FlushFilesBeneath(const fs::path& folder, std::string& error) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  if (ec) {
    error = ec.message();
    return false;
  }
  bool all = true;
  for (const fs::path& entry : entries) {
    if (IsLink(entry)) continue;
    std::string why;
    const bool flushed = fs::is_directory(entry, ec)
                             ? FlushFilesBeneath(entry, why)
                             : FlushHandleOf(entry, FILE_ATTRIBUTE_NORMAL, why);
    if (!flushed && all) error = why;
    all = all && flushed;
  }
  return all;
}

bool FlushToDisk(const fs::path& path) {
  std::string ignored;
  return FlushHandleOf(path, FILE_ATTRIBUTE_NORMAL, ignored);
}

bool FlushFolder(const fs::path& folder, std::string& error) {
  return FlushHandleOf(folder, FILE_FLAG_BACKUP_SEMANTICS, error);
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
