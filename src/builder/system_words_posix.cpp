// Elsewhere the system has no one name a player would know it by.
#include "builder/system_words.h"

namespace launcher {

std::string HoldingSystem() { return "the system"; }

}  // namespace launcher
