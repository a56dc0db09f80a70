// Runs one long job of the Builder without a window, so that a test can end it at any moment
// and look at what it left:
//
//   job_driver <root> <game.json> <launcher version> build
//   job_driver <root> <game.json> <launcher version> tool <id>
//   job_driver <root> <game.json> <launcher version> music <folder>
//
// "build" is the package install in package mode, else the build from source; "tool" loads the
// toolchain from the game's address and installs one tool; "music" imports a folder of music.
// Every log line is printed as "log <line>" the moment it is written, and the end as "ok" or
// "failed <sentence>"; the exit code is 0 or 1. See kill_points.h for the driver's own ends.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "catalogue/game_description.h"
#include "kill_points.h"
#include "platform/file_ops.h"
#include "platform/http.h"
#include "platform/platform.h"

namespace {
namespace fs = std::filesystem;
using namespace launcher;

bool RunJob(Builder& builder, const std::string& job, const std::string& arg, std::string& err) {
  if (job == "build") return builder.BuildAll(err);
  if (job == "tool") {
    Toolchain toolchain;
    if (!builder.LoadToolchain(toolchain, err, false)) return false;
    for (const Tool& tool : toolchain.tools) {
      if (tool.id == arg) return builder.InstallTool(tool, err);
    }
    err = "no tool " + arg;
    return false;
  }
  if (job == "music") {
    std::string summary;
    return builder.ImportMusic(PathFromUtf8(arg), summary, err);
  }
  err = "unknown job " + job;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::printf("failed usage: job_driver <root> <game.json> <version> <job> [argument]\n");
    return 2;
  }
  std::string text;
  GameDescription game;
  std::string err;
  if (!ReadWholeFile(PathFromUtf8(argv[2]), text) || !ParseGameDescription(text, game, err)) {
    std::printf("failed game.json: %s\n", err.c_str());
    return 2;
  }
  game.launcher_version = argv[3];
  job_driver::ArmKillPoints();

  const std::unique_ptr<Http> http = CreateHttp();
  const std::unique_ptr<Platform> platform = CreatePlatform();
  Builder builder(game, PathFromUtf8(argv[1]), http.get(), platform.get());
  builder.log_callback = [](const std::string& line) {
    std::printf("log %s\n", line.c_str());
    std::fflush(stdout);
    job_driver::AfterLogLine();
  };
  const bool ok = RunJob(builder, argv[4], argc > 5 ? argv[5] : "", err);
  std::printf("changes %ld\n", job_driver::ChangesSoFar());
  if (ok) {
    std::printf("ok\n");
  } else {
    std::printf("failed %s\n", err.c_str());
  }
  return ok ? 0 : 1;
}
