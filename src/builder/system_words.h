// How the sentences for the player name the system that holds a file the launcher waits for.
#pragma once

#include <string>

namespace launcher {

// "Windows" where the player knows it by that name; "the system" elsewhere.
std::string HoldingSystem();

}  // namespace launcher
