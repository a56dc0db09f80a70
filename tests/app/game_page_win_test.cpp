// The Game page over a swap that the start could not finish: a file of the game held open
// without delete sharing, as a running game holds its files.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "page_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

class HeldSwapPageTest : public PageTest {};

// The page speaks of the update half made, not of a first install, and its Update finishes it.
TEST_F(HeldSwapPageTest, AnUpdateHeldAtStartSaysWhatHoldsItAndOffersUpdate) {
  StageUpdateEndedAfterItsFirstMove();
  const fs::path play = app().builder->PlayFolder();
  WriteFile(play / "readme.txt", "old readme");
  WriteFile(play / ".next" / "readme.txt", "new readme");
  const HANDLE held = CreateFileW((play / "readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  NewBuilder();
  const bool moved = app().builder->HeldSwap().entry.empty();
  CloseHandle(held);
  if (moved) GTEST_SKIP() << "this system moves a file held open without delete sharing";

  Draw(2);
  EXPECT_TRUE(Shows("The update to v1.1 is not finished: readme.txt is in use. Close the game "
                    "or the program that holds it, then press Update."));
  EXPECT_FALSE(Shows("The program comes ready to go*"));
  EXPECT_FALSE(Shows("Get the game ready"));
  Click("Update");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"InstallJob", "The game is ready. Press Play."}}));
}

}  // namespace
}  // namespace launcher::test
