#pragma once

#include <string_view>

namespace launcher {

// The texts the program carries: src/catalogue/game.json and src/catalogue/toolchain.json,
// embedded byte for byte by the build.
std::string_view BuiltInGameJson();
std::string_view BuiltInToolchainJson();

}  // namespace launcher
