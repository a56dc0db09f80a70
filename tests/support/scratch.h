// Scratch folders and small file helpers shared by the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::test {

// A fresh, empty folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& rest) const { return path_ / rest; }

 private:
  std::filesystem::path path_;
};

// Writes `bytes` to `path`, creating its parent folders; aborts the test on failure.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The SHA-256 of bytes in memory, in lowercase hexadecimal.
std::string Sha256Of(std::string_view bytes);

// The whole file as bytes; "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// The path of a helper program built beside the test executables (tests/programs/<name>.cpp),
// with the platform's executable suffix.
std::filesystem::path TestProgram(const std::string& name);

// The running test executable's own path.
std::filesystem::path SelfPath();

}  // namespace launcher::test
