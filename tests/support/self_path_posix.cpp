#include <filesystem>

#include "support/scratch.h"

namespace launcher::test {

std::filesystem::path SelfPath() { return std::filesystem::read_symlink("/proc/self/exe"); }

}  // namespace launcher::test
