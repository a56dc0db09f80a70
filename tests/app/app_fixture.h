// What the launcher's tests share: an App whose Builder lies in a scratch folder, wired to the
// App's own sinks as the program wires it, and a latch that holds a job until the test lets go.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "builder/builder.h"
#include "builder/builder_fixture.h"  // WithoutCr, TextLines
#include "support/scratch.h"

namespace launcher::test {

// A gate a job waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class AppTest : public ::testing::Test {
 protected:
  AppTest() {
    app.game.title = "Zemrik: Halvorn";
    app.game.short_name = "Halvorn";
    app.game.exe = "Halvorn";
    app.game.xbe = "default.xbe";
    app.game.launcher_version = "v1.0";
    app.root = scratch / "Halvorn";
  }
  ~AppTest() override { WaitForJob(); }

  // Makes the Builder over the App's game and root, with the App's sinks.
  void MakeBuilder() {
    app.builder =
        std::make_unique<Builder>(app.game, app.root, app.http.get(), app.platform.get());
    app.builder->status_callback = StoreStatus(app);
    app.builder->log_callback = AppendLogLine(app);
  }

  // Joins the worker once the running job (if any) has ended.
  void WaitForJob() {
    if (app.worker.joinable()) app.worker.join();
  }

  std::vector<std::string> LogLines() {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    return {app.log_lines.begin(), app.log_lines.end()};
  }

  ScratchDir scratch;
  App app;
};

}  // namespace launcher::test
