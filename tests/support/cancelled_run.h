// A child run that is stopped the moment it says it is ready, for the tests and the benchmark
// that measure how soon a stop ends Platform::Run.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher::test {

struct CancelledRun {
  int code = 0;                         // what Platform::Run returned
  double milliseconds_after_flag = -1;  // from the flag to the run's end; -1 when never set
};

// Runs `args` with a cancel flag that the line sink sets when the line "ready" arrives.
CancelledRun RunAndCancelWhenReady(Platform& platform, const std::vector<std::string>& args);

}  // namespace launcher::test
