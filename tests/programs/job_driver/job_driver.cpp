// Runs one long job of the Builder without a window, so that a test can end it at any moment
// and look at what it left:
//
//   job_driver <root> <game.json> <launcher version> build
//   job_driver <root> <game.json> <launcher version> tool <id>
//   job_driver <root> <game.json> <launcher version> music <folder>
//   job_driver <root> <game.json> <launcher version> launcher <program> <url> <sha256> <size>
//   job_driver <root> <game.json> <launcher version> replace
//   job_driver <root> <game.json> <launcher version> start
//   job_driver <root> <game.json> <launcher version> choose <disc image or folder>
//
// "build" is the package install in package mode, else the build from source; "replace" is the
// package install's last stage alone, play/.next put in place, giving up at once on an entry
// the system holds; "start" makes the Builder and clears what an ended copy of a disc image left,
// as the launcher's start does; "choose" identifies a copy of the game and chooses it (a disc
// image on another volume is copied); "tool" loads the toolchain from the game's address and
// installs one tool; "music" imports a folder of music;
// "launcher" brings the launcher offered at <url> to the program file <program> (a relative
// one lies in the root).
// Every log line is printed as "log <line>" the moment it is written; at the end come
// "took <microseconds>" (the job's own length, from the moment the kill points are armed),
// "changes <N>" and "ok" or "failed <sentence>"; the exit code is 0 or 1. See kill_points.h for
// the driver's own ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/self_update.h"
#include "builder/builder.h"
#include "catalogue/game_copy.h"
#include "catalogue/game_description.h"
#include "kill_points.h"
#include "platform/file_ops.h"
#include "platform/http.h"
#include "platform/platform.h"

namespace {
namespace fs = std::filesystem;
using namespace launcher;

// The launcher's update, run by an App of its own over the driver's game and root.
bool UpdateTheLauncher(const GameDescription& game, const fs::path& root, char** args,
                       std::string& err) {
  App app;
  app.game = game;
  app.root = root;
  app.builder = std::make_unique<Builder>(game, root, app.http.get(), app.platform.get());
  Release release;
  release.tag_name = "v-next";
  release.browser_download_url = args[1];
  release.sha256 = args[2];
  release.size = std::strtoull(args[3], nullptr, 10);
  fs::path program = PathFromUtf8(args[0]);
  if (program.is_relative()) program = root / program;
  return UpdateLauncherAt(app, release, program, err);
}

bool RunJob(const GameDescription& game, Builder& builder, const std::string& job,
            const std::string& arg, std::string& err) {
  if (job == "build") return builder.BuildAll(err);
  if (job == "start") {
    builder.RemoveCopyLeftovers();
    return true;
  }
  if (job == "choose") {
    const GameCopy copy = IdentifyGameCopy(game, PathFromUtf8(arg));
    if (!copy.ok) {
      err = copy.message;
      return false;
    }
    return builder.ChooseGame(copy, err);
  }
  if (job == "replace") {
    builder.replace_retry = {1, std::chrono::milliseconds(0)};
    return builder.ReplaceGame(builder.PlayFolder() / ".next", err);
  }
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
  const auto start = std::chrono::steady_clock::now();
  job_driver::ArmKillPoints();

  const std::unique_ptr<Http> http = CreateHttp();
  const std::unique_ptr<Platform> platform = CreatePlatform();
  Builder builder(game, PathFromUtf8(argv[1]), http.get(), platform.get());
  builder.log_callback = [](const std::string& line) {
    std::printf("log %s\n", line.c_str());
    std::fflush(stdout);
    job_driver::AfterLogLine();
  };
  builder.status_callback = [](const Status&) { job_driver::AfterStatus(); };
  const std::string job = argv[4];
  const bool ok = job == "launcher" && argc >= 9
                      ? UpdateTheLauncher(game, PathFromUtf8(argv[1]), argv + 5, err)
                      : RunJob(game, builder, job, argc > 5 ? argv[5] : "", err);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("took %lld\n", static_cast<long long>(took.count()));
  std::printf("changes %ld\n", job_driver::ChangesSoFar());
  if (ok) {
    std::printf("ok\n");
  } else {
    std::printf("failed %s\n", err.c_str());
  }
  return ok ? 0 : 1;
}
