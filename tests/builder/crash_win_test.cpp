// The package install and a tool install ended with TerminateProcess, as the task manager ends
// the launcher, after each of their log lines: the player's own files stay exactly as they
// were, and running the job again gives what a run that was never ended gives.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/crash_fixture.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace launcher::test {

// Here the driver ends itself at the line its environment names; `kill_after` is not used.
DriverRun RunDriver(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, std::chrono::microseconds) {
  std::vector<std::string> command = {PathToUtf8(TestProgram("job_driver"))};
  command.insert(command.end(), args.begin(), args.end());
  DriverRun run;
  const std::unique_ptr<Platform> platform = CreatePlatform();
  run.exit_code = platform->Run(
      command, {}, env, [&run](const std::string& line) { run.lines.push_back(line); }, nullptr);
  // TerminateProcess(..., 9) is the driver's own end; a job ends with 0 or 1.
  run.killed = run.exit_code == 9;
  return run;
}

namespace {

TEST_F(PackageJobTest, EndedAtEveryLineLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  KillAtEveryLine();
}

TEST_F(ToolJobTest, EndedAtEveryLineLosesNothingAndTheNextRunFinishes) {
  RunReference();
  ASSERT_FALSE(HasFatalFailure());
  KillAtEveryLine();
}

}  // namespace
}  // namespace launcher::test
