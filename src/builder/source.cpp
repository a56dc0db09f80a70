// What the build from source needs before CMake runs: an environment in which the downloaded
// tools are found, git with its progress shown, the game's source at the wanted revision, and
// the player's XBE files inside the source tree.
#include <algorithm>
#include <system_error>
#include <vector>

#include "builder/builder.h"
#include "platform/file_ops.h"
#include "builder/git_progress.h"
#include "catalogue/game_copy.h"
#include "catalogue/release.h"
#include "platform/archive_path.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr const char* kSourceTitle = "Downloading the game's source";
// Beside the source folder while its first clone is not complete.
constexpr const char* kCloningMarker = "source.cloning";

}  // namespace

fs::path NewestSubfolder(const fs::path& folder) {
  std::vector<fs::path> folders;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec)) folders.push_back(it->path());
  }
  if (folders.empty()) return {};
  return *std::max_element(folders.begin(), folders.end());
}

std::string JoinStrings(char separator, const std::vector<fs::path>& paths) {
  std::string text;
  for (const fs::path& path : paths) {
    if (!text.empty()) text += separator;
    text += PathToUtf8(path);
  }
  return text;
}

std::map<std::string, std::string> Builder::BuildEnvironment(const Toolchain& toolchain) {
  const char separator = platform->PathListSeparator();
  const fs::path msvc = NewestSubfolder(ToolFolder("msvc") / "VC" / "Tools" / "MSVC");
  const fs::path kits = ToolFolder("winsdk") / "Windows Kits" / "10";
  std::string version = toolchain.sdk_version;
  std::error_code ec;
  if (version.empty() || !fs::is_directory(kits / "Include" / PathFromUtf8(version), ec)) {
    version = PathToUtf8(NewestSubfolder(kits / "Include").filename());
  }
  const fs::path v = PathFromUtf8(version);

  std::map<std::string, std::string> env;
  std::string path = JoinStrings(
      separator, {ToolFolder("llvm") / "bin", ToolFolder("cmake") / "bin", ToolFolder("ninja"),
                  ToolFolder("git") / "cmd", kits / "bin" / v / "x64"});
  const std::string inherited = platform->GetEnv("PATH");
  if (!inherited.empty()) path += separator + inherited;
  env["PATH"] = path;
  // Every git command trusts every folder, so the clone in the root works whoever owns it.
  env["GIT_CONFIG_COUNT"] = "1";
  env["GIT_CONFIG_KEY_0"] = "safe.directory";
  env["GIT_CONFIG_VALUE_0"] = "*";
  if (msvc.empty()) return env;

  const fs::path include = kits / "Include" / v;
  const fs::path lib = kits / "Lib" / v;
  env["INCLUDE"] =
      JoinStrings(separator, {msvc / "include", include / "ucrt", include / "shared",
                              include / "um", include / "winrt", include / "cppwinrt"});
  env["LIB"] =
      JoinStrings(separator, {msvc / "lib" / "x64", lib / "ucrt" / "x64", lib / "um" / "x64"});
  env["VCToolsInstallDir"] = PathToUtf8(msvc) + "\\";
  env["WindowsSdkDir"] = PathToUtf8(kits) + "\\";
  env["WindowsSDKVersion"] = version + "\\";
  return env;
}

int Builder::Git(const std::vector<std::string>& args, std::string* out, std::string& err) {
  const fs::path own = ToolFolder("git") / "cmd" / PathFromUtf8("git" + platform->ExeSuffix());
  std::error_code ec;
  std::vector<std::string> command{fs::exists(own, ec) ? PathToUtf8(own) : "git"};
  command.insert(command.end(), args.begin(), args.end());
  fs::create_directories(root, ec);

  const LineSink sink = [&](const std::string& line) {
    if (out) *out += line + "\n";
    Log("git: " + line);
    std::string detail;
    double fraction = 0;
    if (ReadGitProgress(line, detail, fraction)) Progress(kSourceTitle, detail, fraction);
  };
  const int result = platform->Run(command, root, BuildEnvironment(toolchain), sink, &cancel);
  if (result != 0) {
    err = "git " + (args.empty() ? std::string() : args[0]) + " failed (" + std::to_string(result) +
          "), see launcher.log";
  }
  return result;
}

bool Builder::FetchSource(std::string& err) {
  Progress(kSourceTitle, "", -1);
  const fs::path source = root / "source";
  const std::string s = PathToUtf8(source);
  // A released launcher builds its own tag; a "dev" launcher follows the branch.
  const bool tag = IsVersionTag(game.launcher_version);
  const std::string revision = tag ? game.launcher_version : game.branch;

  // The marker stays from before the first clone until its submodules are in: a clone cut
  // short (the launcher ended with it) leaves a .git that no fetch or submodule update can use,
  // so the next run clones again.
  const fs::path cloning = root / kCloningMarker;
  std::error_code ec;
  if (!fs::exists(source / ".git", ec) || EntryExists(cloning)) {
    std::string ignored;
    RemoveTree(source, ignored);  // an interrupted first clone; the clone reports what remains
    fs::create_directories(root, ec);
    if (!WriteWholeFile(cloning, revision)) {
      err = "Could not write " + PathToUtf8(cloning) + ".";
      return false;
    }
    if (Git({"clone", "--progress", "--branch", revision, game.repo, s}, nullptr, err) != 0) {
      // A clone ended by a stop leaves a .git that no fetch can use; cloning again works.
      RemoveTree(source, ignored);
      return false;
    }
  } else if (tag) {
    const std::string ref = "refs/tags/" + revision;
    if (Git({"-C", s, "fetch", "--progress", "--force", "origin", ref + ":" + ref}, nullptr, err) !=
            0 ||
        Git({"-C", s, "reset", "--hard", revision}, nullptr, err) != 0) {
      return false;
    }
  } else if (Git({"-C", s, "fetch", "--progress", "origin", revision}, nullptr, err) != 0 ||
             Git({"-C", s, "reset", "--hard", "origin/" + revision}, nullptr, err) != 0) {
    return false;
  }
  if (Git({"-C", s, "submodule", "update", "--init", "--recursive", "--progress"}, nullptr, err) !=
      0) {
    return false;
  }
  std::string ignored;
  RemoveEntry(cloning, ignored);  // one left behind costs a new clone and a whole build
  return true;
}

bool Builder::PutGameXbe(std::string& err) {
  const fs::path game_path = GamePath();
  if (game_path.empty()) {
    err = "Choose the game first.";
    return false;
  }
  const GameCopy copy = IdentifyGameCopy(game, game_path);
  if (!copy.ok) {
    err = copy.message;
    return false;
  }
  const auto release = game.release_xbes.find(copy.sha1);
  const std::vector<std::string>& names =
      release != game.release_xbes.end() ? release->second : game.xbes;

  const fs::path assets = root / "source" / "assets";
  for (const std::string& name : names) {
    // The names come from the game description: none may lead out of the assets folder.
    if (!IsSafeArchivePath(name)) {
      err = "The game description names an XBE outside the game's folder: " + name;
      return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadXbe(name, copy, bytes, err)) return false;
    const fs::path target = ArchiveDestPath(assets, name);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string existing;
    if (ReadWholeFile(target, existing) && existing == content) continue;
    if (!WriteWholeFile(target, content)) {
      // The build needs every XBE, so there is no point in going on without this one.
      err = "Could not write " + PathToUtf8(target) + ".";
      return false;
    }
    Log("xbe written to " + PathToUtf8(target));
  }
  return true;
}

}  // namespace launcher
