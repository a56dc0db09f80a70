// The prebuilt-package road: find the package for the chosen copy, download it (or take the one
// beside the launcher), unpack it into play/.next, then hand over to the code preparation and
// the replacement of the play folder.
#include <algorithm>
#include <system_error>

#include <nlohmann/json.hpp>

#include "builder/builder.h"
#include "catalogue/json_read.h"
#include "catalogue/release.h"
#include "platform/ascii.h"
#include "platform/download.h"
#include "platform/file_ops.h"
#include "platform/progress.h"
#include "platform/zip.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The stamp of a package zip beside the launcher: its size and last-write time, so that a
// changed zip gets unpacked again.
std::string BesideStamp(const fs::path& zip) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(zip, ec);
  const std::string size_text = ec ? "18446744073709551615" : std::to_string(size);
  int64_t ticks = 0;
  const std::string time_text =
      LastWriteTicks(zip, ticks) ? std::to_string(ticks) : "-9223372036854775808";
  return size_text + " " + time_text;
}

// The entry's name in one spelling, so that the rules below see what the unpacker will write:
// '\\' read as '/' (Windows takes it for one), no empty or "." components, and a folder entry's
// trailing '/' kept. False for a name that the rules cannot safely judge: one with a component
// ending in '.' or ' ', which Windows drops ("hdd." is hdd there).
bool NormalEntryName(const std::string& entry, std::string& normal) {
  std::string name = entry;
  std::replace(name.begin(), name.end(), '\\', '/');
  normal.clear();
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part.back() == '.' || part.back() == ' ') return false;
    if (!normal.empty()) normal += '/';
    normal += part;
  }
  if (!normal.empty() && name.back() == '/') normal += '/';
  return true;
}

}  // namespace

std::string MapPackageEntry(const std::string& entry) {
  // An absolute name, a drive or stream (':') and a parent step are refused whatever else they
  // hold, before the name is put into its one spelling.
  if (entry.empty() || entry[0] == '/' || entry[0] == '\\') return "";
  if (entry.find("..") != std::string::npos || entry.find(':') != std::string::npos) return "";
  std::string name;
  if (!NormalEntryName(entry, name) || name.empty()) return "";
  const std::string lower = AsciiLower(name);
  for (const char* player_folder :
       {"hdd/", "assets/", "logs/", "screenshots/", "captures/", "compiler/work/"}) {
    if (StartsWith(lower, player_folder)) return "";
  }
  if (lower.size() > 5 && EndsWith(lower, ".toml") && lower.find('/') == std::string::npos) {
    return "";
  }
  return name;
}

// What the stages of one package install share.
struct Builder::PackageRun {
  std::string& err;
  std::string name;       // the package's file name
  fs::path downloads;     // root/downloads
  fs::path zip;           // the zip to unpack
  std::string stamp;      // what package.stamp holds for this zip
  fs::path next;          // the staging folder
};

std::string Builder::FindPackage() const {
  std::string sha1 = SettingText("game_sha1");
  if (sha1.empty() && !game.packages.empty()) {
    const fs::path path = GamePath();
    if (!path.empty()) sha1 = IdentifyGameCopy(game, path).sha1;
  }
  const auto found = game.packages.find(AsciiLower(sha1));
  if (found != game.packages.end()) return found->second;
  return game.package;
}

bool Builder::FailPackageBuild(std::string& err) {
  package_step = 0;
  LogTimings();
  if (err != kCancelled) Log("build stopped: " + err);
  return false;
}

bool Builder::BuildPackage(std::string& err) {
  cancel.exchange(false);
  LogBuildStart();
  if (GamePath().empty()) {
    err = "Choose the game first.";
    return FailPackageBuild(err);
  }
  // The package is useless without the disc in play/assets, so a lost link is made again first.
  if (!RelinkGame(err)) {
    if (cancel) err = kCancelled;
    return FailPackageBuild(err);
  }
  PackageRun run{err, FindPackage(), root / "downloads", {}, {}, PlayFolder() / ".next"};
  RemoveOldAsides();
  // A swap that the start could not finish is finished before the staging folder is looked at:
  // until then its stamp is no guide to what it holds, and it must not be made afresh while
  // .aside holds the old version's entries.
  std::string finished;
  if (!FinishSwap(run.next, replace_retry.tries, err, finished)) return FailPackageBuild(err);
  // The version this install is for is in place now: nothing is left to fetch or prepare.
  if (!finished.empty() && finished == game.launcher_version) return EndPackageBuild(run);
  if (run.name.empty()) {
    err = "No package is known for this copy of the game: choose it again.";
    return FailPackageBuild(err);
  }
  fs::path base = root;
  if (!base.has_filename()) base = base.parent_path();
  run.zip = base.parent_path() / PathFromUtf8(run.name);
  package_step = 1;

  std::error_code ec;
  if (fs::exists(run.zip, ec)) {
    Log("package beside the launcher: " + PathToUtf8(run.zip));
    run.stamp = BesideStamp(run.zip);
  } else if (!RunStage("package download", [&] { return DownloadPackage(run); })) {
    if (cancel) err = kCancelled;
    return FailPackageBuild(err);
  }

  package_step = 2;
  const fs::path staging_stamp = run.next / "package.stamp";
  if (!StampEquals(staging_stamp, run.stamp)) {
    std::string ignored;
    RemoveTree(run.next, ignored);
    if (!RunStage("package unpack", [&] { return UnpackPackage(run); })) {
      if (cancel) err = kCancelled;
      return FailPackageBuild(err);
    }
    WriteWholeFile(staging_stamp, run.stamp);
  }
  // The stamp names this launcher's package, so the staging folder holds this version: the
  // swap records it, whoever finishes it.
  StageVersion(run.next);
  // Once the staging folder holds the package, the downloaded zip has done its work; a run
  // ended right after the stamp left it behind, so it goes here even when the unpack was
  // skipped. A zip beside the launcher belongs to the player and stays.
  if (run.zip.parent_path() == run.downloads) fs::remove(run.zip, ec);

  package_step = 3;
  std::string kept_error;
  if (!RunStage("compile game code", [&] { return PrepareGameCode(run.next, kept_error); })) {
    if (cancel) {
      err = kCancelled;
    } else if (!kept_error.empty()) {
      err = kept_error;
    } else {
      err = "The game's code could not be built, see launcher.log";
    }
    return FailPackageBuild(err);
  }
  if (!fs::exists(run.next / PathFromUtf8(game.exe + ".dll"), ec)) {
    err = "The build finished without " + game.exe + ".dll, see launcher.log";
    return FailPackageBuild(err);
  }
  if (!RunStage("replace the game", [&] { return ReplaceGame(run.next, err); })) {
    return FailPackageBuild(err);
  }
  return EndPackageBuild(run);
}

bool Builder::EndPackageBuild(PackageRun& run) {
  std::string ignored;
  RemoveTree(run.next, ignored);
  if (!IsGameInPlace()) {
    run.err = "The game was put in place but is not complete, see launcher.log";
    return FailPackageBuild(run.err);
  }
  package_step = 4;
  LogTimings();
  // The swap recorded it already, before the old version went, unless the staging folder was
  // made by a launcher that did not name its version there.
  if (BuiltVersion() != game.launcher_version) SetSetting("built", game.launcher_version);
  Progress("Ready", "", 1.0);
  return true;
}

namespace {

// The release lookup's text when it found no release to take the package from.
constexpr const char* kNoRelease = "no published release";

// The hint for the player after a failed fetch on the package road, naming `button` after
// "press". A refusal and a rate limit pass with time, and so does a 404 of the package or its
// description (`missing_package`) while a release is still being published: the hint says when
// to press the button again. The other faults get the common hints of FetchFaultHint.
std::string PackageHint(const std::string& error, const std::string& button, bool missing_package) {
  switch (FetchFaultOf(error)) {
    case FetchFault::kRefused:
      return " (the server refuses the download for now: press " + button + " later)";
    case FetchFault::kRateLimited:
      return " (the server has had too many requests: wait a few minutes, then press " + button +
             ")";
    case FetchFault::kMissing:
      if (missing_package) {
        return " (this version's package is not published yet: press " + button + " later)";
      }
      break;
    case FetchFault::kUnreachable:
    case FetchFault::kServer:
    case FetchFault::kOtherStatus:
    case FetchFault::kOther:
      break;
  }
  return FetchFaultHint(error, button);
}

// `lead` + ": " + the transport's text, its hint for the player naming `button`, and a full
// stop.
std::string PackageSentence(const std::string& lead, const std::string& error,
                            const std::string& button, bool missing_package) {
  if (error == kCancelled) return error;
  std::string sentence = lead + ": " + error + PackageHint(error, button, missing_package);
  if (!sentence.ends_with('.')) sentence += '.';
  return sentence;
}

// The sentence for a failed fetch of `what` on the package road: "Could not find" when the
// server has no such file (404) or no release is published; every other failure reads "Could
// not fetch".
std::string PackageFetchError(const std::string& what, const std::string& error,
                              const std::string& button, bool missing_package) {
  const bool missing = FetchFaultOf(error) == FetchFault::kMissing || error == kNoRelease;
  return PackageSentence((missing ? "Could not find " : "Could not fetch ") + what, error, button,
                         missing_package);
}

}  // namespace

bool Builder::DownloadPackage(PackageRun& run) {
  std::string tag = game.launcher_version;
  if (!IsVersionTag(tag)) {
    Release release;
    std::string error;
    if (!FetchLatestRelease(*http, game, release, error, &cancel)) {
      // A release whose tag is empty fails the lookup without a text of its own.
      if (error.empty()) error = kNoRelease;
      run.err = PackageFetchError("the game's package", error, retry_button, false);
      return false;
    }
    tag = release.tag_name;
  }
  std::string base = game.repo;
  if (base.size() >= 5 && EndsWith(base, ".git")) base.resize(base.size() - 4);
  const std::string url = base + "/releases/download/" + tag + "/" + run.name;

  std::string text;
  std::string error;
  if (!FetchText(*http, url + ".json", text, error, &cancel)) {
    run.err = PackageFetchError("the game's package for " + tag, error, retry_button, true);
    return false;
  }
  const nlohmann::json description = json_read::Parse<nlohmann::json>(text);
  const nlohmann::json* sha256 = json_read::Member(description, "sha256");
  if (sha256 == nullptr || !sha256->is_string()) {
    run.err = "The package's description for " + tag + " could not be read.";
    return false;
  }
  run.stamp = sha256->get<std::string>();
  const uint64_t size = json_read::Unsigned(description, "size", 0);

  std::error_code ec;
  fs::create_directories(run.downloads, ec);
  run.zip = run.downloads / PathFromUtf8(run.name);
  // The zip is needed only to unpack it. When the staging folder already holds this package
  // (a stop during the code preparation), the unpack is skipped and so is the download. When
  // only the play folder holds it, the package is fetched again: the unpack needs the zip,
  // which the finished install deleted, and a repeated install repairs the play folder.
  if (StampEquals(run.next / "package.stamp", run.stamp)) return true;

  const std::string title = "Downloading the game's package";
  Progress(title, "", 0);
  const ProgressFn progress = [&](uint64_t done, uint64_t) {
    Progress(title, FormatSize(done) + " of " + FormatSize(size),
             size == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(size));
  };
  if (Download(*http, url, run.zip, run.stamp, size, progress, &cancel, error)) return true;
  run.err = PackageSentence("Could not download the game's package", error, retry_button, true);
  return false;
}

bool Builder::UnpackPackage(PackageRun& run) {
  const std::string title = "Unpacking the game's package";
  Progress(title, "", 0);
  std::error_code ec;
  fs::create_directories(run.next, ec);
  const ProgressFn progress = [&](uint64_t done, uint64_t total) {
    Progress(title, "", total == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(total));
  };
  return ExtractZip(run.zip, run.next, MapPackageEntry, progress, &cancel, run.err);
}

}  // namespace launcher
