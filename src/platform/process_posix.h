// Running one child process on POSIX systems (used by platform_posix.cpp).
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher {

// Runs args[0] (found through the launcher's PATH when it has no '/') with `args` as its
// argument vector, in `cwd` (the launcher's own folder when empty), with the launcher's
// environment and `env` on top (names compared exactly). Standard output and standard error go,
// cut into lines, to `sink` (which may be empty), on the calling thread. When `cancel` is set the
// whole tree of the child is killed, descendants that left its group or session included, and
// when the run ends whatever is left of the tree is killed too: no process of it runs once this
// returns. Returns the exit code (128 + the signal for a child ended by a signal), or -1 when
// the child could not start (then `sink` gets one "cannot start" line) or `cancel` is set at
// the end.
int RunProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd,
               const std::map<std::string, std::string>& env, const LineSink& sink,
               const std::atomic<bool>* cancel);

}  // namespace launcher
