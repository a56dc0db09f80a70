// Disc images for the disc image and game copy targets: the partition from its volume
// descriptor on, after the layout byte.
#include <string>
#include <vector>

#include "seeds/seeds.h"
#include "support/disc_image_writer.h"

namespace launcher::fuzz {
namespace {

using test::DiscImageWriter;

std::string FromDescriptor(const DiscImageWriter& writer, char layout) {
  const std::vector<uint8_t> image = writer.Build();
  std::string seed(1, layout);
  if (image.size() > test::kDiscDescriptorOffset) {
    seed.append(image.begin() + test::kDiscDescriptorOffset, image.end());
  }
  return seed;
}

void MakeDiscSeeds(Seeds& out) {
  DiscImageWriter small;
  small.AddFile("default.xbe", "XBEH and a little more");
  small.AddFile("Media\\Sound\\a.wav", "RIFF");
  small.AddFile("media\\b", std::string(3000, 'b'));
  small.AddFile("a/b", "slash in a name");
  small.AddFolder("empty");
  small.AddFile("empty.txt", "");
  out.Add("game_partition", FromDescriptor(small, 0));
  out.Add("whole_disc", FromDescriptor(small, 1));

  DiscImageWriter deep;
  std::string path = "d";
  for (int i = 0; i < 8; ++i) path += "\\d";
  deep.AddFile(path + "\\default.xbe", "deep");
  out.Add("deep", FromDescriptor(deep, 0));

  DiscImageWriter empty;
  out.Add("empty_root", FromDescriptor(empty, 0));
}

const bool registered = RegisterSeeds("disc_image", MakeDiscSeeds) &&
                        RegisterSeeds("game_copy", MakeDiscSeeds);

}  // namespace
}  // namespace launcher::fuzz
