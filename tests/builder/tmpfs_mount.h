// A small tmpfs mounted for one test (Linux, as root): a second volume, or a disk that fills.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace launcher::test {

class TmpfsMount {
 public:
  // Mounts a tmpfs of `bytes` at `where` (made when missing); ok() tells whether it worked and
  // reason() why not.
  TmpfsMount(const std::filesystem::path& where, uint64_t bytes) : where_(where) {
    std::filesystem::create_directories(where);
    const std::string options = "size=" + std::to_string(bytes);
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

}  // namespace launcher::test
