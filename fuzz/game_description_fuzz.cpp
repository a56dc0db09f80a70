// game.json: any text gives a description or one sentence, never a crash.
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/game_description.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  GameDescription game;
  std::string error;
  const bool ok = ParseGameDescription(text, game, error);
  fuzz::Check(ok || !error.empty(), "a refused game.json gave no sentence");
  return 0;
}
