// The latest-release answer of the hosting service and version tags: any answer gives a release
// or one sentence; tags compare as an order.
//
// Input: the release JSON, a NUL, then two tags separated by a NUL.
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/release.h"
#include "fake_http.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::vector<std::string> parts = SplitAtNul(data, size, 3);

  const GameDescription& game = BuiltInGame();

  ScriptedHttp http({parts[0]});
  Release release;
  std::string error;
  const bool ok = FetchLatestRelease(http, game, release, error);
  Check(!ok || !release.tag_name.empty(), "a release without a tag was accepted");

  const std::string& a = parts[1];
  const std::string& b = parts[2];
  Check(CompareVersionTags(a, b) == -CompareVersionTags(b, a), "tag order is not symmetric");
  Check(CompareVersionTags(a, a) == 0, "a tag differs from itself");
  Check(IsVersionTag(a) == !ParseVersionTag(a).empty(), "IsVersionTag and ParseVersionTag differ");
  return 0;
}
