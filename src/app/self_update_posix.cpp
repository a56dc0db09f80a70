#include <system_error>

#include "app/self_update.h"

namespace launcher {

std::filesystem::path OwnExePath() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

}  // namespace launcher
