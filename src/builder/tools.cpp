// The build tools: loading the toolchain description with its fall-backs, and installing one
// tool into tools/<id> through a resumable downloads folder and a stamp file.
#include <map>
#include <system_error>
#include <vector>

#include "builder/builder.h"
#include "platform/file_ops.h"
#include "platform/ascii.h"
#include "catalogue/entry_names.h"
#include "platform/download.h"
#include "platform/progress.h"
#include "platform/tar_xz.h"
#include "platform/zip.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr const char* kStampName = ".launcher-stamp";

double Fraction(uint64_t done, uint64_t total) {
  return total == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace

bool Builder::LoadToolchain(Toolchain& toolchain, std::string& err, bool microsoft) {
  Progress("Looking up the build tools", "", -1);
  const fs::path saved = root / "toolchain.json";
  std::string text;
  std::string fetch_error;
  if (FetchText(*http, game.toolchain, text, fetch_error, &cancel)) {
    std::error_code ec;
    fs::create_directories(root, ec);
    WriteWholeFile(saved, text);  // a copy that cannot be saved only loses the fall-back
  } else if (fetch_error == kCancelled) {
    err = fetch_error;
    return false;
  } else if (ReadWholeFile(saved, text)) {
    Log("toolchain.json could not be fetched (" + fetch_error + "), the last one is used");
  } else if (builtin_toolchain.empty()) {
    err =
        "Could not download the list of build tools: " + fetch_error +
        FetchFaultHint(fetch_error, retry_button);
    return false;
  } else {
    Log("toolchain.json could not be fetched (" + fetch_error + "), the launcher's own is used");
    text = builtin_toolchain;
  }

  toolchain = Toolchain();
  if (!ParseToolchain(text, toolchain.tools, err)) return false;
  if (microsoft && !ResolveMicrosoftPackages(*http, text, toolchain, err, &cancel)) {
    err += FetchFaultHint(err, retry_button);
    return false;
  }

  uint64_t required = 0;
  for (const Tool& tool : toolchain.tools) {
    if (!tool.optional) required += tool.TotalSize();
  }
  Log("tools: " + std::to_string(toolchain.tools.size()) + ", " + FormatSize(required) +
      " to download at most");
  return true;
}

// What the steps of one tool install share.
struct Builder::ToolInstall {
  const Tool& tool;
  std::string& err;
  fs::path downloads;  // root/downloads/<id>
  fs::path folder;     // the tool's folder
  std::string title;   // the tool's title
  uint64_t done = 0;   // bytes of the tool's files downloaded, counted per whole file
  uint64_t total = 0;  // what the install downloads in all
};

bool Builder::InstallTool(const Tool& tool, std::string& err) {
  const fs::path folder = ToolFolder(tool.id);
  const fs::path downloads = root / "downloads" / PathFromUtf8(tool.id);
  std::string ignored;
  if (StampEquals(folder / kStampName, tool.sha256)) {
    // An install ended right after writing its stamp may have left its downloads behind.
    RemoveTree(downloads, ignored);
    return true;
  }

  RemoveTree(folder, ignored);  // a half-unpacked tool never survives into a new attempt
  ToolInstall install{tool, err, downloads, folder, tool.title};
  std::error_code ec;
  fs::create_directories(install.downloads, ec);
  install.total = tool.TotalSize();
  for (const FileRef& file : tool.files) {
    if (!DownloadToolFile(install, file)) return false;
  }

  Progress("Unpacking " + install.title, "", -1);
  fs::create_directories(folder, ec);
  const bool unpacked = tool.kind == "msi" ? UnpackInstallers(install) : UnpackArchives(install);
  if (!unpacked) return false;

  WriteWholeFile(folder / kStampName, tool.sha256);  // a missing stamp only costs a reinstall
  RemoveTree(install.downloads, ignored);
  Log(install.title + " ready in " + PathToUtf8(folder));
  return true;
}

bool Builder::DownloadToolFile(ToolInstall& install, const FileRef& file) {
  Log("download " + file.url);
  const std::string title = "Downloading " + install.title;
  const ProgressFn progress = [&](uint64_t bytes, uint64_t) {
    const uint64_t done = install.done + bytes;
    Progress(title, FormatSize(done) + " of " + FormatSize(install.total),
             Fraction(done, install.total));
  };
  std::string error;
  const bool ok = Download(*http, file.url, install.downloads / PathFromUtf8(file.name),
                           file.sha256, file.size, progress, &cancel, error);
  install.done += file.size;
  if (!ok) {
    install.err =
        "Could not download " + file.name + ": " + error + FetchFaultHint(error, retry_button);
  }
  return ok;
}

bool Builder::UnpackArchives(ToolInstall& install) {
  const Tool& tool = install.tool;
  const NameMapper mapper = [&tool](const std::string& name) { return MapEntryName(tool, name); };
  const std::string title = "Unpacking " + install.title;
  const ProgressFn progress = [&](uint64_t done, uint64_t total) {
    Progress(title, "", Fraction(done, total));
  };
  for (const FileRef& file : tool.files) {
    Log("unpack " + file.name);
    const fs::path archive = install.downloads / PathFromUtf8(file.name);
    const bool ok =
        tool.kind == "tar.xz"
            ? ExtractTarXz(archive, install.folder, mapper, progress, &cancel, install.err)
            : ExtractZip(archive, install.folder, mapper, progress, &cancel, install.err);
    if (!ok) return false;
  }
  return true;
}

bool Builder::UnpackInstallers(ToolInstall& install) {
  const Tool& tool = install.tool;
  std::vector<const FileRef*> installers;
  for (const FileRef& file : tool.files) {
    if (EndsWith(AsciiLower(file.name), ".msi")) installers.push_back(&file);
  }

  // Only the cabinets the installers name are fetched, beside them, where the installer
  // looks for them.
  std::map<std::string, const FileRef*> cabs_by_name;
  for (const FileRef& cab : tool.cabs) cabs_by_name.emplace(AsciiLower(cab.name), &cab);
  std::vector<const FileRef*> needed;
  for (const FileRef* installer : installers) {
    std::string bytes;
    if (!ReadWholeFile(install.downloads / PathFromUtf8(installer->name), bytes)) continue;
    for (const std::string& name : FindCabNames(std::vector<uint8_t>(bytes.begin(), bytes.end()))) {
      const auto found = cabs_by_name.find(AsciiLower(name));
      if (found == cabs_by_name.end()) continue;
      bool seen = false;
      for (const FileRef* cab : needed) seen = seen || cab == found->second;
      if (!seen) needed.push_back(found->second);
    }
  }
  install.total = install.done;
  for (const FileRef* cab : needed) install.total += cab->size;
  for (const FileRef* cab : needed) {
    if (!DownloadToolFile(install, *cab)) return false;
  }

  const std::string title = "Unpacking " + install.title;
  for (size_t k = 0; k < installers.size(); ++k) {
    const FileRef& installer = *installers[k];
    Progress(title, installer.name,
             static_cast<double>(k) / static_cast<double>(installers.size()));
    Log("extract " + installer.name);
    if (!platform->ExtractMsi(install.downloads / PathFromUtf8(installer.name), install.folder,
                              install.err)) {
      return false;
    }
    if (cancel) {
      install.err = kCancelled;
      return false;
    }
  }
  return true;
}

}  // namespace launcher
