#include <windows.h>

#include "builder/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The system's words for an error code, without the line end and the closing full stop, so
// that they fit inside a sentence; the code alone when the system has no words for it.
std::string SystemWords(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring words = length > 0 && buffer ? std::wstring(buffer, length) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  if (words.empty()) return "error " + std::to_string(code);
  return PathToUtf8(fs::path(words));
}

}  // namespace

bool EntryExists(const fs::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLink(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RemoveEntry(const fs::path& path, std::string& error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = SystemWords(GetLastError());
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
    error = SystemWords(GetLastError());
    return false;
  }
  return true;
}

bool MoveReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    error = SystemWords(GetLastError());
    return false;
  }
  return true;
}

bool CopyReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  // The standard library's overwriting copy refuses an existing file here.
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    error = SystemWords(GetLastError());
    return false;
  }
  return true;
}

}  // namespace launcher
