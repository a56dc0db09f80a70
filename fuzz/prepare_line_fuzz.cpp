// The game's "--prepare-code" output lines: any line, at any time into the run, becomes a status
// with a defined fraction, a log line, or nothing, never a crash.
//
// Input: eight bytes of elapsed nanoseconds, then the line.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "builder/builder.h"
#include "fuzz_support.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 8) return 0;
  const GameDescription& game = BuiltInGame();
  static const std::unique_ptr<Platform> platform = CreatePlatform();
  static const std::filesystem::path root = FreshFolder("builder");
  static Builder builder(game, root, nullptr, platform.get());
  // The log is opened for each line; start it afresh now and then so a long run stays small.
  static unsigned calls = 0;
  if (++calls % 4096 == 0) {
    std::error_code ec;
    std::filesystem::remove(root / "launcher.log", ec);
  }

  int64_t elapsed = 0;
  std::memcpy(&elapsed, data, sizeof elapsed);
  const std::string line(reinterpret_cast<const char*>(data + 8), size - 8);

  bool reported = false;
  builder.status_callback = [&](const Status& status) {
    reported = true;
    Check(!std::isnan(status.fraction), "the fraction is not a number");
    Check(!status.detail.empty(), "a status without its text");
  };
  builder.log_callback = nullptr;
  std::string kept;
  builder.HandlePrepareLine(line, 0, elapsed, kept);
  if (reported) Check(line.rfind("progress ", 0) == 0, "a status from a line that is no progress");
  return 0;
}
