// What the Builder's tests share: a game description, a Platform that can refuse hard links,
// and a fixture with a Builder whose root lies in a scratch folder and whose two sinks record
// what they receive.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "catalogue/game_description.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace launcher::test {

inline GameDescription TestGame() {
  GameDescription game;
  game.title = "Halvorn";
  game.short_name = "Halvorn";
  game.exe = "Halvorn";
  game.xbe = "default.xbe";
  game.launcher_version = "v1.0";
  return game;
}

// The system's Platform, except that hard links can be refused (as they are between volumes)
// environment variables can be given other values, and the Windows Installer extraction can be
// stood in for.
class TestPlatform : public Platform {
 public:
  TestPlatform() : real_(CreatePlatform()) {}

  bool refuse_hard_links = false;
  std::map<std::string, std::string> env;  // what GetEnv answers instead of the system
  // When set, stands in for the system's Windows Installer extraction.
  std::function<bool(const std::filesystem::path& msi, const std::filesystem::path& target,
                     std::string& error)>
      extract_msi;

  int Run(const std::vector<std::string>& args, const std::filesystem::path& cwd,
          const std::map<std::string, std::string>& env, const LineSink& sink,
          const std::atomic<bool>* cancel) override {
    return real_->Run(args, cwd, env, sink, cancel);
  }
  bool ExtractMsi(const std::filesystem::path& msi, const std::filesystem::path& target,
                  std::string& error) override {
    if (extract_msi) return extract_msi(msi, target, error);
    return real_->ExtractMsi(msi, target, error);
  }
  bool LinkFolder(const std::filesystem::path& link, const std::filesystem::path& target,
                  std::string& error) override {
    return real_->LinkFolder(link, target, error);
  }
  bool HardLink(const std::filesystem::path& link,
                const std::filesystem::path& existing) override {
    if (refuse_hard_links) return false;
    return real_->HardLink(link, existing);
  }
  bool StartGame(const std::filesystem::path& exe, const std::filesystem::path& cwd,
                 std::string& error) override {
    return real_->StartGame(exe, cwd, error);
  }
  std::string ExeSuffix() override { return real_->ExeSuffix(); }
  char PathListSeparator() override { return real_->PathListSeparator(); }
  std::string GetEnv(const std::string& name) override {
    const auto found = env.find(name);
    return found != env.end() ? found->second : real_->GetEnv(name);
  }

 private:
  std::unique_ptr<Platform> real_;
};

// Text with every CR removed: files written in text mode end their lines in CR LF on Windows.
inline std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

// The lines of a text file, CRs removed.
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : WithoutCr(text)) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

class BuilderTest : public ::testing::Test {
 protected:
  BuilderTest() { root = scratch / "Halvorn"; }

  // A Builder over `game` and `root` with both sinks recording.
  Builder& MakeBuilder() {
    builder = std::make_unique<Builder>(game, root, http.get(), &platform);
    builder->log_callback = [this](const std::string& line) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(line);
      }
      if (on_log) on_log(line);
    };
    builder->status_callback = [this](const Status& status) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        statuses.push_back(status);
        steps.push_back(builder->package_step.load());
      }
      if (on_status) on_status(status);
    };
    return *builder;
  }

  // launcher.log without the time stamps ("HH:MM:SS ").
  std::vector<std::string> LogFileLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : TextLines(ReadFile(root / "launcher.log"))) {
      lines.push_back(line.size() >= 9 ? line.substr(9) : line);
    }
    return lines;
  }

  bool Logged(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& seen : log) {
      if (seen == line) return true;
    }
    return false;
  }

  int CountLogged(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex);
    int count = 0;
    for (const std::string& seen : log) count += seen == line ? 1 : 0;
    return count;
  }

  std::string Exe() { return "Halvorn" + platform.ExeSuffix(); }

  // Whether this system makes folder links that lead somewhere (Wine's "mklink /J" reports
  // success and makes nothing); "" when it does, else the reason to skip.
  std::string FolderLinksMissing() {
    const std::filesystem::path target = scratch / "link-probe-target";
    const std::filesystem::path link = scratch / "link-probe";
    WriteFile(target / "probe", "probe");
    std::string error;
    const bool made = platform.LinkFolder(link, target, error);
    const bool works = made && ReadFile(link / "probe") == "probe";
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::remove_all(target, ec);
    if (works) return "";
    return made ? "this system reports folder links as made but makes none"
                : "this system cannot make folder links: " + error;
  }

  ScratchDir scratch;
  std::filesystem::path root;
  TestPlatform platform;
  std::unique_ptr<Http> http = CreateHttp();
  GameDescription game = TestGame();
  std::unique_ptr<Builder> builder;

  mutable std::mutex mutex;
  std::vector<std::string> log;
  std::vector<Status> statuses;
  std::vector<int> steps;  // the package step at each status report
  std::function<void(const std::string&)> on_log;
  std::function<void(const Status&)> on_status;
};

}  // namespace launcher::test
