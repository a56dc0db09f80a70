#include "platform/archive_file.h"

#include <windows.h>

namespace launcher {
namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

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

bool IsDiskFullError(uint32_t code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
}

// CREATE_NEW neither opens nor follows what is already at the name. Windows files have no
// execute mark: programs are known by their suffix.
OutputFile::Opened OutputFile::OpenTemporary(bool /*executable*/) {
  const HANDLE file = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? Opened::kNameTaken
                                                                     : Opened::kFailed;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return Opened::kYes;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (handle_ == -1) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, piece, &written, nullptr)) return Fail();
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);  // a file takes nothing only when there is no room
      return Fail();
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool OutputFile::CloseFile() {
  if (handle_ == -1) return true;
  const BOOL closed = ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
  return closed != 0;
}

// MoveFileExW replaces a file, and a symbolic link to a file, at the name; a folder link there
// (a junction) goes first, as a link, and the rename is tried again.
bool OutputFile::RenameIntoPlace() {
  if (MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  const DWORD code = GetLastError();
  if (RemoveLink(std::filesystem::path(path_))) {
    return MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }
  SetLastError(code);
  return false;
}

void OutputFile::RemoveTemporary() { DeleteFileW(temp_.c_str()); }

}  // namespace launcher
