// The test process's own environment, and whether another process still runs: for the tests
// of child processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace launcher::test {

// Sets (or, with no value, removes) a variable of this process's environment, the one its
// child processes inherit.
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// Sets a variable for the lifetime of the object and then puts back what was there before.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The current value of a variable of this process's environment; nothing when it is unset.
std::optional<std::string> GetEnvValue(const std::string& name);

// True while the process with this ID runs (a process that has ended but was not yet reaped
// by its parent counts as ended).
bool IsProcessRunning(std::uint64_t pid);

// True when the tests run under Wine rather than on Windows or Linux proper.
bool RunningUnderWine();

}  // namespace launcher::test
