#include "app/app.h"
#include "platform/progress.h"

#include <memory>
#include <string>
#include <utility>

namespace launcher {

App::App()
    : http(std::make_unique<WaitReportingHttp>(CreateHttp(), StoreWait(*this))),
      platform(CreatePlatform()) {}

App::~App() {
  // The Http may still report a wait that a failed request left shown; its reports reach
  // state_mutex, which goes before it otherwise.
  http.reset();
}

std::string StoppedText(const std::string& button) {
  return "Stopped. Press " + button + " to carry on where it left off.";
}

bool App::GameRunning() { return played_game && played_game->Running(); }

void App::StartJob(Job job, std::string title, JobKind kind) {
  if (busy) {
    return;
  }
  if (worker.joinable()) {
    worker.join();
  }
  busy = true;
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    job_kind = kind;
    error.clear();
    done.clear();
    status = Status{};
    wait_text.clear();
  }
  worker = std::thread([this, job = std::move(job), title = std::move(title)] {
    RunJob(job, title);
  });
}

void App::RunJob(const Job& job, const std::string& title) {
  std::string job_error;
  const bool ok = job(job_error);
  // Every job may have made or removed build files and tools, failed and stopped ones too. The
  // folders are walked before the lock is taken: a frame must not wait for a walk.
  const bool measured = builder != nullptr;
  const uint64_t new_build_files_size = measured ? builder->BuildFilesSize() : 0;
  const uint64_t new_tools_size = measured ? builder->ToolsSize() : 0;
  std::lock_guard<std::mutex> lock(state_mutex);
  if (ok) {
    done = title;
  } else {
    error = job_error == kCancelled ? StoppedText() : job_error;
  }
  status = Status{};
  wait_text.clear();
  if (measured) {
    build_files_size = new_build_files_size;
    tools_size = new_tools_size;
  }
  busy = false;
}

std::function<void(const Status&)> StoreStatus(App& app) {
  return [&app](const Status& status) {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.status = status;
  };
}

std::string WaitText(JobKind kind, const std::string& host, int seconds) {
  if (seconds <= 0) return "";
  const std::string count = std::to_string(seconds) + " s.";
  // The start-up check ends by itself soon, and Play stays lit meanwhile: nothing to stop.
  if (kind == JobKind::kStartupCheck) {
    return "Checking for a new version: " + host + " has not answered for " + count;
  }
  return "Waiting for " + host + ": no answer for " + count + " Stop and try again later.";
}

WaitReport StoreWait(App& app) {
  return [&app](const std::string& host, int seconds) {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.wait_text = WaitText(app.job_kind, host, seconds);
  };
}

std::function<void(const std::string&)> AppendLogLine(App& app) {
  return [&app](const std::string& line) {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.log_lines.push_back(line);
    if (app.log_lines.size() > kLogLineLimit) {
      app.log_lines.pop_front();
    }
  };
}

}  // namespace launcher
