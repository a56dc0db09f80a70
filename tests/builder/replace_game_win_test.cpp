// Entries of the play folder that a running game holds: a file open without delete sharing
// cannot be moved (nor, on Windows, the folder that holds it) until the handle is closed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder/swap_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

// A file held open for reading only, as a running game holds its files.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() { Close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

TEST_F(SwapTest, AFolderWithAnOpenFileIsSwappedOnceTheFileIsClosed) {
  HeldFile held(Play() / "bin" / "a.bin");
  ASSERT_TRUE(held.ok());
  builder->replace_retry.wait = std::chrono::milliseconds(10);
  int tries = 0;
  bool released = false;
  on_log = [&](const std::string& line) {
    if (line.rfind("replace: bin, try ", 0) == 0 && ++tries == 3) {
      held.Close();
      released = true;
    }
  };
  std::string err;
  const bool ok = builder->ReplaceGame(Next(), err);
  held.Close();
  // Wine moves the folder and then cannot remove the open file from .aside.
  if (ok && !released) GTEST_SKIP() << "this system moves a folder that holds an open file";
  ASSERT_TRUE(ok) << err;
  EXPECT_EQ(tries, 3);
  EXPECT_EQ(statuses.size(), 3u);
  ExpectTheNewVersionWhole();
}

// The retries run out on readme.txt, after the stamp, the game and "bin" have moved: they all
// go back, the old version is whole and the staging folder holds the package with its stamp.
TEST_F(SwapTest, AFileThatStaysOpenPutsTheOldVersionBack) {
  HeldFile held(Play() / "readme.txt");
  ASSERT_TRUE(held.ok());
  builder->replace_retry = {2, std::chrono::milliseconds(1)};
  std::string err;
  const bool ok = builder->ReplaceGame(Next(), err);
  if (ok) GTEST_SKIP() << "this system moves a file held open without delete sharing";
  EXPECT_EQ(err.rfind("Could not put readme.txt in place (is the game still running, or an "
                      "antivirus scanning it?): ",
                      0),
            0u)
      << err;
  EXPECT_TRUE(builder->IsGameInPlace());
  ExpectTheOldVersionWhole();

  held.Close();
  builder->replace_retry = {};
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  ExpectTheNewVersionWhole();
}

}  // namespace
}  // namespace launcher::test
