// The Visual Studio channel and manifest, through a stand-in Http: any answers give the two
// tools or one sentence, and never add half a result.
//
// Input: the toolchain.json text, a NUL, the channel, a NUL, the manifest. An empty toolchain
// text stands for the built-in one.
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/builtin_texts.h"
#include "catalogue/toolchain.h"
#include "fake_http.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::vector<std::string> parts = SplitAtNul(data, size, 3);
  const std::string json = parts[0].empty() ? std::string(BuiltInToolchainJson()) : parts[0];

  ScriptedHttp http({parts[1], parts[2]});
  Toolchain toolchain;
  std::string error;
  const bool ok = ResolveMicrosoftPackages(http, json, toolchain, error);
  if (ok) {
    Check(toolchain.tools.size() == 2, "a resolved channel did not give exactly two tools");
  } else {
    Check(!error.empty(), "a failed resolution gave no sentence");
    Check(toolchain.tools.empty(), "a failed resolution added tools");
  }
  return 0;
}
