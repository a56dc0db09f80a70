// Windows: the player knows the system by its name.
#include "builder/system_words.h"

namespace launcher {

std::string HoldingSystem() { return "Windows"; }

}  // namespace launcher
