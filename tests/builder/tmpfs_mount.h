// A small tmpfs mounted for one test (Linux, as root): a second volume, or a disk that fills.
#pragma once

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace launcher::test {

class TmpfsMount {
 public:
  // Mounts a tmpfs of `bytes` at `where` (made when missing), with `more` mount options after
  // the size (such as "nr_inodes=8"); ok() tells whether it worked and reason() why not.
  TmpfsMount(const std::filesystem::path& where, uint64_t bytes, const std::string& more = "")
      : where_(where) {
    std::filesystem::create_directories(where);
    const std::string options = "size=" + std::to_string(bytes) + (more.empty() ? "" : "," + more);
    if (mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      reason_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
  }
  ~TmpfsMount() { Unmount(); }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool ok() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  void Unmount() {
    if (mounted_ && umount2(where_.c_str(), MNT_DETACH) == 0) mounted_ = false;
  }

 private:
  std::filesystem::path where_;
  bool mounted_ = false;
  std::string reason_;
};

// The bytes still free on the file system that holds `path`.
inline uint64_t FreeBytes(const std::filesystem::path& path) {
  struct statvfs info {};
  if (statvfs(path.c_str(), &info) != 0) return 0;
  return uint64_t(info.f_bavail) * info.f_frsize;
}

// Fills the file system that holds `folder` with the file `folder`/filler until `room` bytes are
// left (none when less is free). Real bytes: a sparse file would take no room on a tmpfs.
inline bool FillLeaving(const std::filesystem::path& folder, uint64_t room) {
  const uint64_t free_bytes = FreeBytes(folder);
  std::FILE* filler = std::fopen((folder / "filler").c_str(), "wb");
  if (filler == nullptr) return false;
  const std::string block(65536, 'f');
  for (uint64_t left = free_bytes > room ? free_bytes - room : 0; left > 0;) {
    const size_t part = size_t(std::min<uint64_t>(left, block.size()));
    if (std::fwrite(block.data(), 1, part, filler) != part) break;
    left -= part;
  }
  return std::fclose(filler) == 0 || room == 0;
}

}  // namespace launcher::test
