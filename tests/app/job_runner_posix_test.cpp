// The job runner seen from the file system: when it walks the folders it measures.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "app/app.h"
#include "app_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

using JobRunnerPosixTest = AppTest;

// Every frame takes the state lock, so the walk that measures the build files after a job must
// not hold it. The test holds the lock as a frame would and watches the build files' folder: the
// walk opens it while the lock is still held, or it waits for the lock and the watch sees
// nothing (then the test fails after its bound).
TEST_F(JobRunnerPosixTest, TheBuildFilesAreMeasuredWithoutTheStateLock) {
  MakeBuilder();
  const std::filesystem::path build_files = app.root / "source" / "out";  // outside package mode
  WriteFile(build_files / "obj" / "a.o", "four");
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, build_files.c_str(), IN_OPEN), 0);

  Gate gate;
  app.StartJob(
      [&](std::string&) {
        gate.Wait();
        return true;
      },
      "Done.");
  bool walked_meanwhile = false;
  {
    std::lock_guard<std::mutex> frame(app.state_mutex);
    gate.Open();
    pollfd ready{watch, POLLIN, 0};
    walked_meanwhile = poll(&ready, 1, 60 * 1000) == 1;
  }
  WaitForJob();
  close(watch);
  EXPECT_TRUE(walked_meanwhile) << "the walk waited for the state lock";
  EXPECT_EQ(app.build_files_size, 4u);
  EXPECT_EQ(app.done, "Done.");
}

}  // namespace
}  // namespace launcher::test
