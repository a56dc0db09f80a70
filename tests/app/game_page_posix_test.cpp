// The Game page over a swap that the start could not finish: an entry of the game held busy
// (a mount point cannot be renamed, as Windows cannot move a file the running game holds).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builder/tmpfs_mount.h"
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
  WriteFile(play / ".next" / "videos" / "intro.bik", "new intro");
  TmpfsMount busy(play / "videos", 1048576);
  if (!busy.ok()) GTEST_SKIP() << busy.reason();
  NewBuilder();

  Draw(2);
  const std::string held =
      "The update to v1.1 is not finished: videos is in use. Close the game or the program "
      "that holds it, then press Update.";
  EXPECT_TRUE(Shows(held));
  EXPECT_FALSE(Shows("The program comes ready to go*"));
  EXPECT_FALSE(Shows("Get the game ready"));
  EXPECT_FALSE(Enabled("Play"));
  Click("Update");
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"InstallJob", "The game is ready. Press Play."}}));

  // While the press works, the page says what every install says.
  app().busy = true;
  app().job_kind = JobKind::kGame;
  Draw(2);
  EXPECT_FALSE(Shows(held));
  EXPECT_TRUE(Shows("You can stop at any time:*"));
}

}  // namespace
}  // namespace launcher::test
