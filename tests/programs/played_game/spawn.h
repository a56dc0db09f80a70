#pragma once

namespace played_game {

// Starts this program again with the single argument "second" and does not wait for it.
bool StartSecond(const char* argv0);

}  // namespace played_game
