// The Game page over a swap that the start could not finish: an entry of the game held busy
// (a mount point cannot be renamed, as Windows cannot move a file the running game holds).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
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
  GameDescription game = PageGame(true, true);
  game.launcher_version = "v1.1";
  UseGame(game);
  AcceptCopy();
  const fs::path play = app().builder->PlayFolder();
  const std::string exe = app().builder->GameExe().filename().string();
  WriteFile(play / exe, "old exe");
  WriteFile(play / "Halvorn.dll", "old dll");
  WriteFile(play / ".next" / exe, "new exe");
  WriteFile(play / ".next" / "Halvorn.dll", "new dll");
  WriteFile(play / ".next" / "videos" / "intro.bik", "new intro");
  WriteFile(play / ".next" / ".launcher-version", "v1.1");
  // Ended after its first move: the old stamp aside.
  WriteFile(play / ".aside" / "package.stamp", "old");
  TmpfsMount busy(play / "videos", 1048576);
  if (!busy.ok()) GTEST_SKIP() << busy.reason();
  app().builder =
      std::make_unique<Builder>(app().game, app().root, app().http.get(), app().platform.get());

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
