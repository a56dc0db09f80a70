// A staged folder whose namesake in the play folder holds a file that is open without delete
// sharing, as a running game holds its files: the folder cannot be removed until the handle is
// closed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST_F(BuilderTest, AFolderWithAnOpenFileIsReplacedOnceTheFileIsClosed) {
  const fs::path play = root / "play";
  const fs::path next = play / ".next";
  WriteFile(next / "bin" / "new.dll", "new");
  WriteFile(play / "bin" / "held.dll", "old");
  HANDLE held = CreateFileW((play / "bin" / "held.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  Builder& b = MakeBuilder();
  b.replace_retry.wait = std::chrono::milliseconds(10);
  int tries = 0;
  on_log = [&](const std::string& line) {
    if (line.rfind("replace: bin, try ", 0) == 0 && ++tries == 3) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    }
  };
  std::string err;
  const bool ok = b.ReplaceGame(next, err);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (tries == 0 && ok) GTEST_SKIP() << "this system deletes files that are held open";
  ASSERT_TRUE(ok) << err;
  EXPECT_EQ(tries, 3);
  EXPECT_EQ(statuses.size(), 3u);
  EXPECT_EQ(ReadFile(play / "bin" / "new.dll"), "new");
  EXPECT_FALSE(fs::exists(play / "bin" / "held.dll"));
}

}  // namespace
}  // namespace launcher::test
