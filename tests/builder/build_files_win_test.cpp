// A removal that Windows refuses: a file held open without sharing its deletion.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

// Holds a file open for reading, sharing neither writes nor deletion.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST_F(BuilderTest, ARefusedRemovalStopsTheRestAndGivesTheSystemsWords) {
  game.package = "Halvorn-windows.zip";
  WriteFile(root / "source" / "CMakeLists.txt", "project");
  WriteFile(root / "downloads" / "held.bin", "held");
  WriteFile(root / "agreed.txt", "licence");
  HeldFile held(root / "downloads" / "held.bin");
  ASSERT_TRUE(held.ok());

  std::string error;
  EXPECT_FALSE(MakeBuilder().RemoveTools(error));
  const std::string prefix = "Could not remove " + PathToUtf8(root / "downloads") + ": ";
  EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_GT(error.size(), prefix.size()) << error;
  EXPECT_FALSE(fs::exists(root / "source"));
  EXPECT_TRUE(fs::exists(root / "agreed.txt"));

  WriteFile(root / "play" / "compiler" / "work" / "held.obj", "held");
  HeldFile work(root / "play" / "compiler" / "work" / "held.obj");
  ASSERT_TRUE(work.ok());
  error.clear();
  EXPECT_FALSE(builder->RemoveBuildFiles(error));
  EXPECT_EQ(error.rfind("Could not remove the build files: ", 0), 0u) << error;
}

}  // namespace
}  // namespace launcher::test
