// Configuring and compiling the game's source with CMake and Ninja, and installing what they
// built into the play folder.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "builder/builder.h"
#include "builder/install_names.h"
#include "catalogue/ascii.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The longest decimal number ("12", "-3", "2.9", "+.5") at the start of `text` after leading
// white space; 0 when there is none. False when the number does not fit a double.
bool LeadingNumber(std::string_view text, double& value) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const size_t start = at;
  auto digits = [&] {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  size_t count = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    const size_t fraction = digits();
    if (count + fraction == 0) --at;  // a lone "." is no number
    count += fraction;
  }
  value = 0;
  if (count == 0) return true;
  const auto [end, ec] =
      std::from_chars(text.data() + start, text.data() + at, value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + at || !std::isfinite(value)) return false;
  if (negative) value = -value;
  return true;
}

// A step count as the player reads it: the number truncated to a whole one.
std::string WholeText(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.0f", std::trunc(value));
  return text;
}

}  // namespace

bool ParseBuildStep(const std::string& line, double& done, double& total) {
  if (line.size() < 4 || line[0] != '[') return false;
  const size_t slash = line.find('/');
  const size_t bracket = line.find(']');
  if (slash == std::string::npos || bracket == std::string::npos || slash > bracket) return false;
  if (!LeadingNumber(std::string_view(line).substr(slash + 1), total) || !(total > 0)) {
    return false;
  }
  return LeadingNumber(std::string_view(line).substr(1), done);
}

void Builder::HandleBuildLine(const std::string& line) {
  Log(line);
  double done = 0;
  double total = 0;
  if (!ParseBuildStep(line, done, total)) return;
  Progress("Building " + game.title, WholeText(done) + " of " + WholeText(total) + " steps",
           done / total);
}

bool Builder::InstallBuild(std::string& err) {
  const fs::path play = PlayFolder();
  std::error_code ec;
  fs::create_directories(play, ec);
  const fs::path build = root / "source" / "out" / "build" / "release";
  int installed = 0;
  for (fs::directory_iterator it(build, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entry_ec;
    if (!it->is_regular_file(entry_ec)) continue;
    const std::string name = PathToUtf8(it->path().filename());
    const std::string extension = AsciiLower(PathToUtf8(it->path().extension()));
    if (extension != ".dll" && !IsGameExecutableName(name, game.exes)) continue;
    if (!fs::copy_file(it->path(), play / it->path().filename(),
                       fs::copy_options::overwrite_existing, entry_ec)) {
      err = "Cannot copy " + name + " (is the game still running?)";
      return false;
    }
    ++installed;
  }
  if (installed > 0 && IsGameInPlace()) {
    Log("installed in " + PathToUtf8(play));
    return true;
  }
  err = "The build made no " + game.exe + platform->ExeSuffix();
  return false;
}

}  // namespace launcher
