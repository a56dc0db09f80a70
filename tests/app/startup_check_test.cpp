#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app_fixture.h"
#include "catalogue/release.h"
#include "platform/progress.h"
#include "support/http_server.h"
#include "support/silent_names.h"

namespace launcher::test {
namespace {

class StartupCheckTest : public AppTest {
 protected:
  StartupCheckTest() {
    saved_hosting = Hosting();
    Hosting().site = server.Url("/");
    Hosting().api = server.Url("");
    app.game.repo = server.Url("/kelvane/halvorn");
  }
  ~StartupCheckTest() override {
    WaitForJob();
    Hosting() = saved_hosting;
  }

  void ServeLatest(const std::string& tag) {
    server.Serve("/repos/kelvane/halvorn/releases/latest",
                 R"({"tag_name": ")" + tag + R"(", "assets": [{"name": "HalvornLauncher.exe",
                   "browser_download_url": "http://127.0.0.1/x", "size": 5,
                   "digest": "sha256:00"}]})");
  }

  void RunCheck() {
    MakeBuilder();
    app.StartJob(StartupCheckJob(app), "");
    WaitForJob();
  }

  HttpServer server;
  HostingService saved_hosting;
};

TEST_F(StartupCheckTest, LogsWhatItFoundAndOffersOnlyANewerRelease) {
  struct Case {
    std::string own_version;
    std::string served_tag;  // "" serves nothing: the request fails
    std::vector<std::string> want_log;
    bool want_offered;
  };
  const std::vector<Case> cases = {
      {"v1.0", "v1.2", {"update check: v1.2 is out, this launcher is v1.0: offered"}, true},
      {"v1.0", "v1.0", {"update check: the latest release is v1.0, this launcher is v1.0"}, false},
      {"v1.0", "nightly",
       {"update check: the latest release is nightly, this launcher is v1.0"}, false},
      {"dev", "v9.0", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.own_version + " against " + c.served_tag);
    app.game.launcher_version = c.own_version;
    app.launcher_offered = false;
    {
      std::lock_guard<std::mutex> lock(app.state_mutex);
      app.log_lines.clear();
    }
    ServeLatest(c.served_tag);
    RunCheck();
    EXPECT_EQ(LogLines(), c.want_log);
    EXPECT_EQ(app.launcher_offered.load(), c.want_offered);
    if (c.want_offered) {
      EXPECT_EQ(app.offered_release.tag_name, c.served_tag);
      EXPECT_EQ(app.offered_release.size, 5u);
    }
    // The check never fails as a job: nothing shows.
    EXPECT_EQ(app.error, "");
    EXPECT_EQ(app.done, "");
  }
}

TEST_F(StartupCheckTest, AFailedLookupIsLoggedWithItsReasonOrAsNoAnswer) {
  // An empty tag reads as a lookup that failed without a reason.
  ServeLatest("");
  RunCheck();
  EXPECT_EQ(LogLines(), std::vector<std::string>{"update check: no answer"});

  server.Status("/repos/kelvane/halvorn/releases/latest", 404);
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.log_lines.clear();
  }
  RunCheck();
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("update check: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0], "update check: no answer");
  EXPECT_FALSE(app.launcher_offered);
  EXPECT_EQ(app.error, "");
}

TEST_F(StartupCheckTest, AsksWhetherTheGameInPlaceHasANewVersion) {
  ServeLatest("v1.0");
  // Not in place: the game is not asked about and nothing is ready.
  RunCheck();
  EXPECT_FALSE(app.game_update_ready);

  // In place, built by another launcher version: a new version is ready.
  WriteFile(app.root / "play" / ("Halvorn" + app.platform->ExeSuffix()), "game");
  RunCheck();
  EXPECT_TRUE(app.game_update_ready);
}

// A network that takes every request and never answers: a Get returns only when its cancel flag
// is set, or after a minute, as a transport's own time-out would.
class SilentHttp : public Http {
 public:
  bool Get(const std::string&, uint64_t, const BodySink&, uint64_t*, std::string& error,
           const std::atomic<bool>* cancel) override {
    ++calls;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < give_up) {
      if (cancel != nullptr && cancel->load()) {
        error = kCancelled;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    error = "the request failed (timed out)";
    return false;
  }
  std::atomic<int> calls{0};
};

class SilentNetworkTest : public AppTest {
 protected:
  SilentNetworkTest() {
    saved_hosting = Hosting();
    Hosting().site = "http://127.0.0.1:9/";
    Hosting().api = "http://127.0.0.1:9";
    app.game.repo = "http://127.0.0.1:9/kelvane/halvorn";
    auto silent = std::make_unique<SilentHttp>();
    http = silent.get();
    app.http = std::move(silent);
    MakeBuilder();
  }
  ~SilentNetworkTest() override {
    WaitForJob();
    Hosting() = saved_hosting;
  }

  // Waits, at most a generous while, for the check to be inside its request.
  bool WaitForRequest() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (http->calls == 0 && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return http->calls > 0;
  }

  SilentHttp* http = nullptr;
  HostingService saved_hosting;
};

using Clock = std::chrono::steady_clock;

TEST_F(SilentNetworkTest, TheCheckGivesUpByItselfAfterItsLimitAndLeavesNoStopBehind) {
  const auto start = Clock::now();
  app.StartJob(StartupCheckJob(app, std::chrono::seconds(1)), "");
  WaitForJob();
  const auto took = Clock::now() - start;
  // Not before its limit, and far from the transport's minute: a loaded machine has room.
  EXPECT_GE(took, std::chrono::seconds(1));
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "update check: no answer within 1 s, given up; the next start looks "
                            "again"});
  // One try: the time that is up ends the lookup rather than starting another request.
  EXPECT_EQ(http->calls, 1);
  // The time's stop does not reach the next job, and the check shows nothing.
  EXPECT_FALSE(app.builder->cancel);
  EXPECT_EQ(app.error, "");
  EXPECT_FALSE(app.launcher_offered);
}

TEST_F(SilentNetworkTest, StopEndsTheCheckLongBeforeItsLimit) {
  app.StartJob(StartupCheckJob(app, std::chrono::seconds(300)), "");
  ASSERT_TRUE(WaitForRequest());
  const auto stop = Clock::now();
  app.builder->cancel = true;  // what "Stop" does
  WaitForJob();
  EXPECT_LT(Clock::now() - stop, std::chrono::seconds(4));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"update check: stopped"});
  EXPECT_EQ(app.error, "");
}

// A release launcher wants the game of its own version: over a game built by another one it
// offers the update at once, while the lookup still waits, and after a stop or a time-out.
TEST_F(SilentNetworkTest, AReleaseLauncherOffersTheGamesUpdateWithoutTheNetwork) {
  WriteFile(app.root / "play" / ("Halvorn" + app.platform->ExeSuffix()), "game");
  app.builder->SetSetting("built", "v0.9");
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "stopped" : "timed out");
    app.game_update_ready = false;
    app.builder->cancel = false;  // as at the next start
    http->calls = 0;
    app.StartJob(StartupCheckJob(app, std::chrono::seconds(stopped ? 300 : 1)), "");
    ASSERT_TRUE(WaitForRequest());
    EXPECT_TRUE(app.game_update_ready) << "known before the lookup answers";
    if (stopped) app.builder->cancel = true;
    WaitForJob();
    EXPECT_TRUE(app.game_update_ready);
    EXPECT_FALSE(app.launcher_offered);
  }
}

// The check over the system's own HTTP client while the name of the hosting service is looked up
// and never found: its limit ends it, though the system resolver would wait minutes.
using NameLookupCheckTest = AppTest;

TEST_F(NameLookupCheckTest, TheCheckEndsWithinItsLimitWhileANameLookupNeverAnswers) {
  LAUNCHER_RUN_WITH_SILENT_NAMES();
  const HostingService saved_hosting = Hosting();
  const std::string silent = std::string("http://") + kSilentHost;
  Hosting().site = silent + "/";
  Hosting().api = silent;
  app.game.repo = silent + "/kelvane/halvorn";
  MakeBuilder();
  const auto start = Clock::now();
  app.StartJob(StartupCheckJob(app, std::chrono::seconds(1)), "");
  WaitForJob();
  const auto took = Clock::now() - start;
  Hosting() = saved_hosting;
  EXPECT_GE(NameQueries(), 1);
  EXPECT_GE(took, std::chrono::seconds(1));
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "update check: no answer within 1 s, given up; the next start looks "
                            "again"});
  EXPECT_FALSE(app.builder->cancel);
}

}  // namespace
}  // namespace launcher::test
