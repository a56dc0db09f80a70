// launcher.json as the player's disk may hold it: any file is read without a crash, and a write
// keeps a file that reads back, with the value written and every other key of an object kept.
//
// Input: the file's bytes, a NUL, then the value to store under "game".
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "builder/builder.h"
#include "catalogue/json_read.h"
#include "fuzz_support.h"
#include "platform/file_ops.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  using nlohmann::json;
  const GameDescription& game = BuiltInGame();
  static const std::unique_ptr<Platform> platform = CreatePlatform();

  const std::vector<std::string> parts = SplitAtNul(data, size, 2);
  const std::filesystem::path root = FreshFolder("root");
  const std::filesystem::path file = root / "launcher.json";
  {
    std::ofstream out(file, std::ios::binary);
    out << parts[0];
  }
  Builder builder(game, root, nullptr, platform.get());
  builder.BuiltVersion();
  builder.PlayAtStart();
  builder.GamePath();

  const json before = json::parse(parts[0], nullptr, false);
  builder.SetSetting("game", parts[1]);
  builder.SetPlayAtStart(true);
  std::string text;
  Check(ReadWholeFile(file, text), "launcher.json is gone after a write");
  const json after = json::parse(text, nullptr, false);
  Check(after.is_object(), "launcher.json is no JSON object after a write");
  Check(after.contains("game") && after["game"].is_string(), "the written value is missing");
  Check(builder.PlayAtStart(), "play_at_start does not read back");
  // A file nested deeper than the launcher reads counts as malformed and starts afresh.
  if (before.is_object() && json_read::DepthWithin(parts[0], json_read::kMaxDepth)) {
    for (const auto& [key, value] : before.items()) {
      if (key != "game" && key != "play_at_start") {
        Check(after.contains(key), "a write lost the key " + key);
      }
    }
  }
  return 0;
}
