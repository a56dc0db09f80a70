// The App's own Http tells the interface when a server keeps a job waiting: after 5 s without an
// answer App::wait_text names the host and the seconds, in the words of the job's kind, and the
// text goes when the job ends.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/app.h"
#include "app_fixture.h"
#include "platform/download.h"
#include "platform/progress.h"
#include "support/http_server.h"

namespace launcher::test {
namespace {

using Clock = std::chrono::steady_clock;
using WaitTextTest = AppTest;

std::string ShownWait(App& app) {
  std::lock_guard<std::mutex> lock(app.state_mutex);
  return app.wait_text;
}

// The start-up check, which ends by itself while Play stays lit, only says what it waits for;
// the jobs the player started name the way out.
TEST_F(WaitTextTest, ASilentServerIsNamedWhileTheJobWaitsAndTheTextGoesWithTheJob) {
  HttpServer server;
  Reply silent;
  silent.silent = true;
  server.Route("/latest", silent);
  MakeBuilder();
  const struct {
    JobKind kind;
    std::string expected;
  } cases[] = {
      {JobKind::kStartupCheck, "Checking for a new version: 127.0.0.1 has not answered for 5 s."},
      {JobKind::kGame, "Waiting for 127.0.0.1: no answer for 5 s. Stop and try again later."},
      {JobKind::kOther, "Waiting for 127.0.0.1: no answer for 5 s. Stop and try again later."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    app.builder->cancel = false;
    std::string job_error;
    app.StartJob(
        [&](std::string& error) {
          std::string text;
          const bool ok =
              FetchText(*app.http, server.Url("/latest"), text, error, &app.builder->cancel);
          job_error = error;
          return ok;
        },
        "", c.kind);

    std::string shown;
    const auto give_up = Clock::now() + std::chrono::seconds(20);
    while (shown.empty() && Clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      shown = ShownWait(app);
    }
    EXPECT_EQ(shown, c.expected);
    EXPECT_TRUE(app.busy);

    app.builder->cancel = true;  // what "Stop" does
    WaitForJob();
    EXPECT_EQ(job_error, kCancelled);
    EXPECT_EQ(ShownWait(app), "");
  }
}

}  // namespace
}  // namespace launcher::test
