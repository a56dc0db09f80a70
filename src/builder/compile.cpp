// Configuring and compiling the game's source with CMake and Ninja, and installing what they
// built into the play folder.
#include <cmath>
#include <cstdio>
#include <map>
#include <system_error>

#include "builder/builder.h"
#include "builder/install_names.h"
#include "builder/leading_number.h"
#include "platform/ascii.h"
#include "platform/file_ops.h"
#include "platform/progress.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// A step count as the player reads it: the number truncated to a whole one.
std::string WholeText(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.0f", std::trunc(value));
  return text;
}

// One line "<id> <stamp>\n" per tool the build uses, in the toolchain's order.
std::string BuildToolsStamp(const Toolchain& toolchain) {
  std::string stamp;
  for (const Tool& tool : toolchain.tools) {
    if (!tool.optional) stamp += tool.id + " " + tool.sha256 + "\n";
  }
  return stamp;
}

}  // namespace

bool ParseBuildStep(const std::string& line, double& done, double& total) {
  if (line.size() < 4 || line[0] != '[') return false;
  const size_t slash = line.find('/');
  const size_t bracket = line.find(']');
  if (slash == std::string::npos || bracket == std::string::npos || slash > bracket) return false;
  if (!ReadLeadingNumber(std::string_view(line).substr(slash + 1), total) ||
      !ReadLeadingNumber(std::string_view(line).substr(1), done)) {
    return false;
  }
  // Steps are whole: a part of one is not done yet, and the text and the bar must agree. A
  // count below zero ("-0" included) or a total under one step is no step count at all.
  done = std::trunc(done);
  total = std::trunc(total);
  return total >= 1 && !std::signbit(done);
}

bool Builder::Compile(std::string& err) {
  const fs::path source = root / "source";
  const fs::path build = source / "out" / "build" / "release";
  const std::map<std::string, std::string> environment = BuildEnvironment(toolchain);
  const fs::path own_cmake =
      ToolFolder("cmake") / "bin" / PathFromUtf8("cmake" + platform->ExeSuffix());
  std::error_code ec;
  const std::string cmake = fs::exists(own_cmake, ec) ? PathToUtf8(own_cmake) : "cmake";
  const std::string stamp = BuildToolsStamp(toolchain);

  const auto remove_cache = [&build] {
    std::string ignored;
    RemoveTree(build / "CMakeCache.txt", ignored);
    RemoveTree(build / "CMakeFiles", ignored);
  };
  // CMake's cache remembers the compiler and the libraries it found; with other tools it has to
  // be made again.
  if (fs::exists(build / "CMakeCache.txt", ec) && !StampEquals(build / ".launcher-tools", stamp)) {
    Log("the build tools changed: CMake's cache is made again");
    remove_cache();
  }

  Progress("Preparing the build", "the first time also downloads the libraries it uses", -1);
  int code = -1;
  const auto configure = [&] {
    code = platform->Run(
        {cmake, "--preset", "release", "-DCMAKE_LINKER_TYPE=LLD"}, source, environment,
        [this](const std::string& line) { Log("cmake: " + line); }, &cancel);
    return code == 0;
  };
  RunStage("configure (cmake)", [&] {
    const bool kept_cache = fs::exists(build / "CMakeCache.txt", ec);
    if (configure() || !kept_cache || cancel) return code == 0;
    // CMake writes its cache in place, so a full disk or a power cut can leave it cut short,
    // and then no later configure gets past it. A configure that fails on a kept cache gets one
    // more try from an empty one; a fault in the source fails that try as well.
    Log("configure failed with CMake's kept cache: it is made again");
    remove_cache();
    return configure();
  });
  if (code != 0) {
    err = cancel ? kCancelled : "Preparing the build failed, see launcher.log";
    return false;
  }
  fs::create_directories(build, ec);
  WriteWholeFile(build / ".launcher-tools", stamp);

  Progress("Building " + game.title, "the first build takes 30 to 90 minutes", 0);
  RunStage("compile and link (cmake --build)", [&] {
    code = platform->Run(
        {cmake, "--build", "out/build/release"}, source, environment,
        [this](const std::string& line) { HandleBuildLine(line); }, &cancel);
    return code == 0;
  });
  if (code != 0) {
    err = cancel ? kCancelled : "The build failed, see launcher.log";
    return false;
  }
  return true;
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
    std::string why;
    if (!CopyReplacing(it->path(), play / it->path().filename(), why)) {
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
