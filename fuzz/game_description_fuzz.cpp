// game.json: any text gives a description or one sentence, never a crash.
//
// The text is built into the program, never read from outside it. Inputs over 16 KiB are passed
// over: the ordered JSON the reader uses copies a member's value, recursing once per level, when
// a later member follows it, so a text nested tens of thousands of levels deep overflows the
// stack while it is parsed.
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/game_description.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  if (size > 16 * 1024) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  GameDescription game;
  std::string error;
  const bool ok = ParseGameDescription(text, game, error);
  fuzz::Check(ok || !error.empty(), "a refused game.json gave no sentence");
  return 0;
}
