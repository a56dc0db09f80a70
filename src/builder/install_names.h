// Which built file is the game's executable: the rule follows the system's executable names.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// True when the file named `file_name` is one of the game's executables `exes` (names without
// the system's executable suffix), compared without regard to ASCII case.
bool IsGameExecutableName(const std::string& file_name, const std::vector<std::string>& exes);

}  // namespace launcher
