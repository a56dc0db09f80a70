// Reading git's progress lines ("Receiving objects:  45% (450/1000), 1.2 MiB | 2 MiB/s").
#pragma once

#include <string>

namespace launcher {

// For a line with a "%" at index 2 or later: `detail` gets the line up to its first ":" (the
// whole line without one) and `fraction` the number just before the "%" (read from the last
// space before it, or from the start of the line) divided by 100; 0 when no number stands
// there. False, leaving both alone, for any other line.
bool ReadGitProgress(const std::string& line, std::string& detail, double& fraction);

}  // namespace launcher
