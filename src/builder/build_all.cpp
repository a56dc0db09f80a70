// The one entry point of the build jobs: the prebuilt package in package mode, otherwise the
// build of the game from source on this PC.
#include "builder/builder.h"
#include "platform/file_ops.h"
#include "platform/progress.h"

namespace launcher {

bool Builder::BuildAll(std::string& err) {
  if (PackageMode()) return BuildPackage(err);
  cancel.exchange(false);
  LogBuildStart();
  const auto fail = [&] {
    LogTimings();
    // A stop ends every stage with a reason of its own, such as a git command that was ended;
    // the player stopped the build, and that is all there is to say.
    if (cancel) err = kCancelled;
    if (err != kCancelled) Log("build stopped: " + err);
    return false;
  };

  // An update of a game already in place needs no new Windows SDK install.
  if (!IsGameInPlace() && PathTooLong(err)) return fail();
  // The game reads its disc from play/assets, which may have gone since the copy was chosen.
  if (!RelinkGame(err)) return fail();
  if (!RunStage("build tools list", [&] { return LoadToolchain(toolchain, err, true); })) {
    return fail();
  }
  for (const Tool& tool : toolchain.tools) {
    if (tool.optional) continue;
    if (!RunStage("tool " + tool.id, [&] { return InstallTool(tool, err); })) return fail();
  }
  if (!RunStage("game source", [&] { return FetchSource(err); })) return fail();
  if (!RunStage("game's xbe", [&] { return PutGameXbe(err); })) return fail();
  if (!Compile(err)) return fail();
  if (!RunStage("install", [&] { return InstallBuild(err); })) return fail();

  LogTimings();
  // Every tool removed its own downloads; the folder they shared goes too once it is empty.
  std::string ignored;
  RemoveEntry(root / "downloads", ignored);
  SetSetting("built", game.launcher_version);
  Progress("Ready", "", 1);
  return true;
}

}  // namespace launcher
