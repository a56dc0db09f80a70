// The one entry point of the build jobs.
#include "builder/builder.h"

namespace launcher {

bool Builder::BuildAll(std::string& err) {
  if (PackageMode()) return BuildPackage(err);
  // Building from source on this PC is not part of the launcher yet: fail the way a build
  // fails, with the banner, an empty timing summary and the reason.
  cancel.exchange(false);
  LogBuildStart();
  err = "Building from source is not available yet.";
  LogTimings();
  Log("build stopped: " + err);
  return false;
}

}  // namespace launcher
