#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "platform/file_ops.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace fs = std::filesystem;

bool EntryExists(const fs::path& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool IsLink(const fs::path& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool RemoveEntry(const fs::path& path, std::string& error) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    error = LastErrorWords();
    return false;
  }
  const int result = S_ISDIR(info.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str());
  if (result != 0) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

bool LastWriteTicks(const fs::path& path, int64_t& ticks) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  constexpr int64_t kFrom1601To1970 = 116444736000000000;
  ticks = int64_t{info.st_mtim.tv_sec} * 10000000 + info.st_mtim.tv_nsec / 100 + kFrom1601To1970;
  return true;
}

bool FlushToDisk(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = fsync(fd) == 0;
  return close(fd) == 0 && flushed;
}

namespace {

// Opens the folder and hands its descriptor to `flush` (fsync, syncfs); false with the system's
// words when either fails.
bool FlushThroughFolder(const fs::path& folder, int (*flush)(int), std::string& error) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = LastErrorWords();
    return false;
  }
  const bool flushed = flush(fd) == 0;
  if (!flushed) error = LastErrorWords();
  close(fd);
  return flushed;
}

}  // namespace

bool FlushFilesBeneath(const fs::path& folder, std::string& error) {
  // One flush of the folder's whole file system: every file written beneath it.
  return FlushThroughFolder(folder, syncfs, error);
}

bool FlushFolder(const fs::path& folder, std::string& error) {
  return FlushThroughFolder(folder, fsync, error);
}

bool MoveReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

bool KeepProgramAside(const fs::path& program, const fs::path& kept, std::string& error) {
  if (unlink(kept.c_str()) != 0 && errno != ENOENT) {
    error = LastErrorWords();
    return false;
  }
  if (link(program.c_str(), kept.c_str()) != 0) {
    error = LastErrorWords();
    return false;
  }
  return true;
}

bool CopyReplacing(const fs::path& from, const fs::path& to, std::string& error) {
  std::error_code ec;
  if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
    error = ec.message();
    return false;
  }
  return true;
}

}  // namespace launcher
