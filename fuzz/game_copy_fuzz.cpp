// Identifying the player's copy from a disc image file of any content: never a crash, and a copy
// that is not accepted always says why in one sentence.
//
// Input: as for the disc image target: one byte choosing the layout (bit 0: the whole disc,
// written as a sparse file), then the partition's bytes from its volume descriptor on.
#include <cstdint>
#include <fstream>
#include <string>

#include "catalogue/game_copy.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 1) return 0;
  const GameDescription& game = BuiltInGame();
  const uint64_t start = ((data[0] & 1) ? 0x18300000 : 0) + 0x10000;
  const std::filesystem::path image = FreshFolder("in") / "Game.ISO";
  {
    std::ofstream out(image, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(start));  // the gap stays a hole in the file
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    Check(out.good(), "cannot write the image");
  }
  const GameCopy copy = IdentifyGameCopy(game, image);
  Check(copy.is_disc_image, "a .iso file was not taken for a disc image");
  if (!copy.ok) {
    Check(copy.message.rfind("This is not an Xbox disc image of ", 0) == 0 ||
              copy.message.rfind("This disc image of ", 0) == 0 ||
              copy.message.rfind("This copy's ", 0) == 0,
          "an unexpected message: " + copy.message);
  }
  return 0;
}
