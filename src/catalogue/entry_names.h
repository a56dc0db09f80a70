// The rules by which a tool's archive entries are kept, renamed or left out.
#pragma once

#include <string>

#include "catalogue/toolchain.h"

namespace launcher {

// The path under the tool's folder at which the entry is written, or "" to leave it out.
std::string MapEntryName(const Tool& tool, const std::string& name);

// The name without its first `count` components, or "" when it has fewer.
std::string StripComponents(const std::string& name, int count);

}  // namespace launcher
