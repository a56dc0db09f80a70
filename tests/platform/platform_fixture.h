// The fixture of the Platform tests: a platform, the test child (tests/programs/child) and the
// lines it printed.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/scratch.h"

namespace launcher {

class PlatformTest : public ::testing::Test {
 protected:
  // Runs the test child with these commands (see tests/programs/child/child.cpp), collecting
  // its lines.
  int RunChild(const std::vector<std::string>& commands, const std::filesystem::path& cwd = {},
               const std::map<std::string, std::string>& env = {},
               const std::atomic<bool>* cancel = nullptr) {
    std::vector<std::string> args{child_};
    args.insert(args.end(), commands.begin(), commands.end());
    return platform_->Run(args, cwd, env, Collect(), cancel);
  }

  LineSink Collect() {
    return [this](const std::string& line) { lines_.push_back(line); };
  }

  std::unique_ptr<Platform> platform_ = CreatePlatform();
  const std::string child_ = PathToUtf8(test::TestProgram("child"));
  std::vector<std::string> lines_;
  test::ScratchDir scratch_;
};

}  // namespace launcher
