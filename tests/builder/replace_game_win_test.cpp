// Entries of the play folder that a running game holds: a file open without delete sharing
// cannot be moved (nor, on Windows, the folder that holds it) until the handle is closed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "builder/swap_fixture.h"
#include "platform/file_ops.h"
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
  ASSERT_EQ(statuses.size(), 3u);
  for (const Status& status : statuses) {
    EXPECT_EQ(status.detail, "Waiting for Windows to let go of bin");
  }
  ExpectTheNewVersionWhole();
}

// A file of the old version that the system will not remove once the new version is in place
// (opened here, from the moment everything has moved, without delete sharing) leaves .aside
// under a name of its own, so that the next swap has .aside to itself; the first start after it
// is closed removes it.
TEST_F(SwapTest, AnOldFileThatCannotBeRemovedLeavesAsideFreeForTheNextSwap) {
  std::unique_ptr<HeldFile> held;
  builder->disk_flush.folder = [&](const fs::path& play, std::string& why) {
    if (!held) held = std::make_unique<HeldFile>(Aside() / "readme.txt");
    return FlushFolder(play, why);
  };
  std::string err;
  const bool ok = builder->ReplaceGame(Next(), err);
  ASSERT_TRUE(held && held->ok());
  if (ok && log.empty()) GTEST_SKIP() << "this system removes a file held open without delete sharing";
  // Real Windows renames neither such a file nor the folder that holds it; a running program,
  // the case that matters, it does rename.
  if (!ok) GTEST_SKIP() << "this system moves neither the held file nor its folder: " << err;
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].rfind("Could not remove the old version's readme.txt: ", 0), 0u) << log[0];
  ExpectTheNewVersionWhole();
  const fs::path kept = Play() / ".aside-2";
  EXPECT_EQ(ReadFile(kept / "readme.txt"), "old readme");
  EXPECT_TRUE(builder->IsGameInPlace());

  held->Close();
  MakeBuilder();
  EXPECT_FALSE(EntryExists(kept));
  EXPECT_TRUE(builder->IsGameInPlace());
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
