#include "support/scratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/sha.h"

namespace launcher::test {
namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    const std::string name = "launcher-test-" + std::to_string(random()) + "-" +
                             std::to_string(now) + "-" + std::to_string(counter++);
    path_ = fs::temp_directory_path() / name;
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Give back write permission first so that tests that made read-only files clean up too.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << "cannot write " << path;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Sha256Of(std::string_view bytes) {
  Sha256 sha;
  sha.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return sha.FinalHex();
}

std::filesystem::path TestProgram(const std::string& name) {
  fs::path program = SelfPath().parent_path() / name;
  program += SelfPath().extension();  // ".exe" on Windows, nothing elsewhere
  return program;
}

}  // namespace launcher::test
