#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/self_update.h"
#include "app_fixture.h"
#include "platform/progress.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

class SelfUpdateTest : public AppTest {
 protected:
  SelfUpdateTest() {
    MakeBuilder();
    self = scratch / "bin" / ("HalvornLauncher" + app.platform->ExeSuffix());
    WriteFile(self, "the running launcher");
    fs::permissions(self, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    Offer(std::string(300000, 'n'));
  }

  void Offer(const std::string& bytes) {
    new_bytes = bytes;
    server.Serve("/HalvornLauncher.exe", new_bytes);
    release.tag_name = "v1.1";
    release.browser_download_url = server.Url("/HalvornLauncher.exe");
    release.sha256 = Sha256Of(new_bytes);
    release.size = new_bytes.size();
  }

  bool Update(std::string& error) { return UpdateLauncherAt(app, release, self, error); }

  HttpServer server;
  Release release;
  std::string new_bytes;
  fs::path self;
};

TEST_F(SelfUpdateTest, NewAndOldLieBesideTheProgramNamedAfterItsWholeFileName) {
  const fs::path exe = fs::path("C:/Games/HalvornLauncher.exe");
  EXPECT_EQ(NewLauncherPath(exe).filename(), "HalvornLauncher.exe.new");
  EXPECT_EQ(OldLauncherPath(exe).filename(), "HalvornLauncher.exe.old");
  EXPECT_EQ(NewLauncherPath(exe).parent_path(), exe.parent_path());
}

TEST_F(SelfUpdateTest, SwapsTheProgramsOverALeftoverOldOne) {
  WriteFile(OldLauncherPath(self), "from an earlier update");
  std::string error;
  ASSERT_TRUE(Update(error)) << error;
  EXPECT_EQ(ReadFile(self), new_bytes);
  EXPECT_EQ(ReadFile(OldLauncherPath(self)), "the running launcher");
  EXPECT_FALSE(fs::exists(NewLauncherPath(self)));
  EXPECT_TRUE(app.restart_pending);
  // The new program keeps the running one's run bit.
  EXPECT_EQ(fs::status(self).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

TEST_F(SelfUpdateTest, AFailedDownloadLeavesTheProgramAlone) {
  release.sha256 = Sha256Of("something else");
  std::string error;
  EXPECT_FALSE(Update(error));
  EXPECT_NE(error, "");
  EXPECT_EQ(ReadFile(self), "the running launcher");
  EXPECT_FALSE(fs::exists(OldLauncherPath(self)));
  EXPECT_FALSE(app.restart_pending);
}

TEST_F(SelfUpdateTest, AStoppedDownloadResumesAtTheNextPress) {
  Reply stalling;
  stalling.body = new_bytes;
  stalling.stall_after = 100000;
  server.Route("/HalvornLauncher.exe", stalling);
  // Stop once the first part has arrived; the rest arrives after the stop and is refused.
  std::thread stopper([&] {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(app.state_mutex);
        if (app.status.fraction > 0.3) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    app.builder->cancel = true;
    server.ReleaseStalls();
  });
  std::string error;
  EXPECT_FALSE(Update(error));
  stopper.join();
  EXPECT_EQ(error, kCancelled);
  EXPECT_EQ(ReadFile(self), "the running launcher");

  server.Serve("/HalvornLauncher.exe", new_bytes);
  error.clear();
  ASSERT_TRUE(Update(error)) << error;  // the press clears the stop
  EXPECT_EQ(ReadFile(self), new_bytes);
  const std::vector<std::string> ranges = server.Ranges("/HalvornLauncher.exe");
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "");
  EXPECT_NE(ranges[1], "");  // carried on from the part already there
}

TEST_F(SelfUpdateTest, AProgramThatCannotMoveAsideKeepsTheDownloadForTheNextPress) {
  const fs::path moved = scratch / "moved-away";
  fs::rename(self, moved);  // nothing to move aside
  std::string error;
  EXPECT_FALSE(Update(error));
  EXPECT_EQ(error,
            "The launcher could not be updated (it could not rename itself). The new one is " +
                PathToUtf8(NewLauncherPath(self)) + ".");
  EXPECT_EQ(ReadFile(NewLauncherPath(self)), new_bytes);
  EXPECT_FALSE(app.restart_pending);

  // The next press finds the complete download and only swaps.
  fs::rename(moved, self);
  const int requests = server.Count("/HalvornLauncher.exe");
  ASSERT_TRUE(Update(error)) << error;
  EXPECT_EQ(server.Count("/HalvornLauncher.exe"), requests);
  EXPECT_EQ(ReadFile(self), new_bytes);
}

TEST_F(SelfUpdateTest, ProgressShowsSizesOrAnIndeterminateBar) {
  UpdateProgress(app, 512 * 1024 * 1024, 1024ull * 1024 * 1024);
  EXPECT_EQ(app.status.title, "Downloading the new launcher");
  EXPECT_EQ(app.status.detail, "512 MB of 1.0 GB");
  EXPECT_DOUBLE_EQ(app.status.fraction, 0.5);
  UpdateProgress(app, 10, 0);
  EXPECT_EQ(app.status.fraction, -1);
}

// The new program is a real one: after the swap the hand-over starts it from its own place.
TEST_F(SelfUpdateTest, TheNewProgramStartsAtTheHandOver) {
  Offer(ReadFile(TestProgram("played_game")));
  std::string error;
  ASSERT_TRUE(Update(error)) << error;
  ASSERT_TRUE(HandOverToNewLauncher(app, self)) << app.error;
  const fs::path played = self.parent_path() / "played.txt";
  for (int i = 0; i < 3000 && ReadFile(played).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(WithoutCr(ReadFile(played)), "first started\n");
}

TEST_F(SelfUpdateTest, AHandOverThatFailsSaysSoAndClearsTheRestart) {
  app.restart_pending = true;
  fs::remove(self);
  EXPECT_FALSE(HandOverToNewLauncher(app, self));
  EXPECT_FALSE(app.restart_pending);
  EXPECT_TRUE(app.error.starts_with("The new launcher is in place but did not start: ")) << app.error;
  EXPECT_TRUE(app.error.ends_with(" Start it again.")) << app.error;
}

}  // namespace
}  // namespace launcher::test
