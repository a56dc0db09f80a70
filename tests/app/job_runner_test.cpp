#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app_fixture.h"
#include "platform/progress.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

using JobRunnerTest = AppTest;

TEST_F(JobRunnerTest, OutcomeBecomesDoneOrErrorWithStopInPlayersWords) {
  MakeBuilder();
  struct Case {
    bool ok;
    std::string error;
    std::string want_done;
    std::string want_error;
  };
  const std::vector<Case> cases = {
      {true, "", "Finished.", ""},
      {false, kCancelled, "", StoppedText()},
      {false, "cancelled.", "", "cancelled."},
      {false, "Cancelled", "", "Cancelled"},
      {false, "The disk is full.", "", "The disk is full."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    app.StartJob(
        [&c](std::string& error) {
          error = c.error;
          return c.ok;
        },
        "Finished.");
    WaitForJob();
    EXPECT_FALSE(app.busy);
    EXPECT_EQ(app.done, c.want_done);
    EXPECT_EQ(app.error, c.want_error);
    EXPECT_EQ(app.status.title, "");
    EXPECT_EQ(app.status.fraction, -1);
  }
}

TEST_F(JobRunnerTest, SecondStartWhileRunningIsDroppedAndClearsNothing) {
  MakeBuilder();
  app.StartJob([](std::string& error) { error = "first failed"; return false; }, "");
  WaitForJob();

  Gate gate;
  std::atomic<bool> first_reported{false};
  app.StartJob(
      [&](std::string&) {
        app.builder->Progress("Working", "half", 0.5);
        first_reported = true;
        gate.Wait();
        return true;
      },
      "First done.");
  // The previous job's outcome is gone before the new job reports anything.
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    EXPECT_EQ(app.error, "");
    EXPECT_EQ(app.done, "");
  }
  while (!first_reported) std::this_thread::yield();

  std::atomic<bool> second_ran{false};
  app.StartJob([&](std::string&) { second_ran = true; return true; }, "Second done.");
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    EXPECT_EQ(app.status.title, "Working");
    EXPECT_EQ(app.status.detail, "half");
  }
  EXPECT_TRUE(app.busy);
  gate.Open();
  WaitForJob();
  EXPECT_FALSE(second_ran);
  EXPECT_EQ(app.done, "First done.");
}

TEST_F(JobRunnerTest, SizesAreRefreshedAfterEveryJobFailedAndStoppedOnesToo) {
  MakeBuilder();
  // Outside package mode the build files are source/out.
  const std::filesystem::path build_files = app.root / "source" / "out";
  struct Case {
    bool ok;
    std::string error;
    size_t bytes;
  };
  const std::vector<Case> cases = {{true, "", 100}, {false, "broke", 250}, {false, kCancelled, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    app.StartJob(
        [&](std::string& error) {
          std::error_code ignored;
          std::filesystem::remove_all(build_files, ignored);
          WriteFile(build_files / "obj" / "a.o", std::string(c.bytes, 'x'));
          error = c.error;
          return c.ok;
        },
        "");
    WaitForJob();
    EXPECT_EQ(app.build_files_size, c.bytes);
  }
}

TEST_F(JobRunnerTest, StartRecordsTheJobsKindAndAFailedUpdateKeepsTheOffer) {
  app.game.package = "Halvorn-windows.zip";
  MakeBuilder();
  app.game_update_ready = true;
  app.StartJob(InstallJob(app), kInstallTitle, JobKind::kGame);
  EXPECT_EQ(app.job_kind, JobKind::kGame);
  WaitForJob();
  EXPECT_EQ(app.error, "Choose the game first.");
  EXPECT_TRUE(app.game_update_ready) << "no update was made: it is still to be offered";

  app.StartJob([](std::string&) { return true; }, "");
  EXPECT_EQ(app.job_kind, JobKind::kOther);
  WaitForJob();
}

TEST_F(JobRunnerTest, LogKeepsTheLatest2000Lines) {
  MakeBuilder();
  for (int i = 1; i <= 2001; ++i) app.builder->Log("line " + std::to_string(i));
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2000u);
  EXPECT_EQ(lines.front(), "line 2");
  EXPECT_EQ(lines.back(), "line 2001");
}

// The worker logs (the Builder's log mutex, then the App's state mutex) while the interface
// reads the log under the state mutex and the status sink takes it too: neither side may wait
// for the other for good.
TEST_F(JobRunnerTest, LoggingFromAJobWhileTheInterfaceReads) {
  MakeBuilder();
  constexpr int kLines = 3000;
  app.StartJob(
      [&](std::string&) {
        for (int i = 0; i < kLines; ++i) {
          app.builder->Log("working " + std::to_string(i));
          app.builder->Progress("Working", std::to_string(i), i / double(kLines));
        }
        return true;
      },
      "Done.");
  size_t copied = 0;
  while (app.busy) {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    std::vector<std::string> snapshot(app.log_lines.begin(), app.log_lines.end());
    copied = snapshot.size();
  }
  WaitForJob();
  EXPECT_LE(copied, kLogLineLimit);
  EXPECT_EQ(app.done, "Done.");
  EXPECT_EQ(LogLines().back(), "working " + std::to_string(kLines - 1));
}

}  // namespace
}  // namespace launcher::test
