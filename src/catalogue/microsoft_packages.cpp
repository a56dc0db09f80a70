// Microsoft's compiler runtime packages and the Windows SDK installers, found through the
// Visual Studio release channel and its package manifest.
#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "catalogue/file_names.h"
#include "catalogue/json_read.h"
#include "catalogue/toolchain.h"
#include "platform/ascii.h"
#include "platform/download.h"

namespace launcher {
namespace {

using Json = nlohmann::json;
namespace jr = json_read;

constexpr const char* kDefaultChannel = "https://aka.ms/vs/17/release/channel";
constexpr const char* kManifestItemId = "Microsoft.VisualStudio.Manifests.VisualStudio";

// What toolchain.json's "msvc" and "sdk" entries say.
struct MicrosoftEntries {
  std::string channel;
  std::string msvc_version;
  std::vector<std::string> msvc_packages;
  std::string sdk_package;
  std::string sdk_version;
  std::vector<std::string> sdk_msis;
};

// Manifest packages by lower-cased id: those for x64 (or any chip) in US English (or any
// language); of two with the same id the first in the manifest stays.
using PackageIndex = std::map<std::string, const Json*>;

bool ReadEntries(const std::string& json, MicrosoftEntries& entries, std::string& error) {
  const Json document = jr::Parse<Json>(json);
  const Json* msvc = jr::Member(document, "msvc");
  const Json* sdk = jr::Member(document, "sdk");
  if (msvc == nullptr || sdk == nullptr) {
    error = "toolchain.json has no msvc or sdk entry";
    return false;
  }
  entries.channel = jr::Text(*msvc, "channel", kDefaultChannel);
  entries.msvc_version = jr::Text(*msvc, "version");
  entries.msvc_packages = jr::TextList(*msvc, "packages", {});
  entries.sdk_package = jr::Text(*sdk, "package");
  entries.sdk_version = jr::Text(*sdk, "version");
  entries.sdk_msis = jr::TextList(*sdk, "msis", {});
  return true;
}

// The manifest's URL: the first payload's of the channel item that names it (the last such item
// when several do).
std::string ManifestUrl(const std::string& channel_text) {
  const Json channel = jr::Parse<Json>(channel_text);
  std::string url;
  const Json* items = jr::Array(channel, "channelItems");
  if (items == nullptr) return url;
  for (const Json& item : *items) {
    if (jr::Text(item, "id") != kManifestItemId) continue;
    const Json* payloads = jr::Array(item, "payloads");
    if (payloads != nullptr && !payloads->empty()) url = jr::Text(payloads->front(), "url");
  }
  return url;
}

bool IsWantedChip(const std::string& chip) {
  return chip.empty() || chip == "x64" || chip == "neutral";
}

bool IsWantedLanguage(const std::string& language) {
  return language.empty() || language == "en-us" || language == "neutral";
}

PackageIndex IndexPackages(const Json& packages) {
  PackageIndex index;
  for (const Json& package : packages) {
    if (!package.is_object()) continue;
    if (!IsWantedChip(AsciiLower(jr::Text(package, "chip")))) continue;
    if (!IsWantedLanguage(AsciiLower(jr::Text(package, "language")))) continue;
    index.emplace(AsciiLower(jr::Text(package, "id")), &package);  // the first stays
  }
  return index;
}

const Json* FindPackage(const PackageIndex& index, const std::string& name, std::string& error) {
  const auto it = index.find(AsciiLower(name));
  if (it == index.end()) {
    error = "the Visual Studio manifest has no " + name;
    return nullptr;
  }
  return it->second;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool MakeMsvcTool(const MicrosoftEntries& entries, const PackageIndex& index, Tool& tool,
                  std::string& error) {
  tool.id = "msvc";
  tool.title = "Microsoft C++ libraries " + entries.msvc_version;
  tool.kind = "vsix";
  tool.sha256 = entries.msvc_version;
  for (const std::string& pattern : entries.msvc_packages) {
    const std::string name = ReplaceAll(pattern, "{v}", entries.msvc_version);
    const Json* package = FindPackage(index, name, error);
    if (package == nullptr) return false;
    std::vector<FileRef> payloads;
    ParsePayloads(*package, payloads);
    for (FileRef& file : payloads) {
      file.name = name + ".vsix";
      tool.files.push_back(std::move(file));
    }
  }
  return true;
}

bool MakeSdkTool(const MicrosoftEntries& entries, const PackageIndex& index, Tool& tool,
                 std::string& error) {
  const Json* package = FindPackage(index, entries.sdk_package, error);
  if (package == nullptr) return false;
  std::vector<FileRef> payloads;
  ParsePayloads(*package, payloads);

  std::set<std::string> wanted;
  for (const std::string& msi : entries.sdk_msis) wanted.insert(AsciiLower(msi));
  for (FileRef& file : payloads) {
    const std::string lower = AsciiLower(file.name);
    if (wanted.count(lower) != 0) {
      tool.files.push_back(std::move(file));
    } else if (EndsWith(lower, ".cab")) {
      tool.cabs.push_back(std::move(file));
    }
  }
  if (tool.files.size() != wanted.size()) {
    error = "the Windows SDK package lacks some of its installers (" +
            std::to_string(tool.files.size()) + " of " + std::to_string(wanted.size()) + ")";
    return false;
  }
  tool.id = "winsdk";
  tool.title = "Windows SDK " + entries.sdk_version;
  tool.kind = "msi";
  tool.sha256 = entries.sdk_package;
  for (const FileRef& file : tool.files) tool.sha256 += " " + file.name;
  return true;
}

// Each file of a tool is written under its name in the tool's download folder: every name must
// be one plain file name, whatever the manifest (or a package name of toolchain.json) says.
bool CheckFileNames(const Tool& tool, std::string& error) {
  for (const std::vector<FileRef>* list : {&tool.files, &tool.cabs}) {
    for (const FileRef& file : *list) {
      if (!IsPlainFileName(file.name)) {
        error = "the Visual Studio manifest gives a file name that is not a plain file name: \"" +
                file.name + "\"";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void ParsePayloads(const nlohmann::json& package, std::vector<FileRef>& files) {
  const Json* payloads = jr::Array(package, "payloads");
  if (payloads == nullptr) return;
  for (const Json& payload : *payloads) {
    FileRef file;
    file.url = jr::Text(payload, "url");
    file.sha256 = AsciiLower(jr::Text(payload, "sha256"));
    file.size = jr::Unsigned(payload, "size", 0);
    const std::string path = jr::Text(payload, "fileName");
    const size_t separator = path.find_last_of("\\/");
    file.name = separator == std::string::npos ? path : path.substr(separator + 1);
    files.push_back(std::move(file));
  }
}

bool ResolveMicrosoftPackages(Http& http, const std::string& json, Toolchain& toolchain,
                              std::string& error, const std::atomic<bool>* cancel) {
  MicrosoftEntries entries;
  if (!ReadEntries(json, entries, error)) return false;

  std::string channel;
  std::string fetch_error;
  if (!FetchText(http, entries.channel, channel, fetch_error, cancel)) {
    error = fetch_error == kCancelled ? fetch_error : "Visual Studio channel: " + fetch_error;
    return false;
  }
  const std::string manifest_url = ManifestUrl(channel);
  if (manifest_url.empty()) {
    error = "the Visual Studio channel lists no package manifest";
    return false;
  }
  std::string manifest_text;
  if (!FetchText(http, manifest_url, manifest_text, fetch_error, cancel)) {
    error = fetch_error == kCancelled ? fetch_error : "Visual Studio manifest: " + fetch_error;
    return false;
  }
  const Json manifest = jr::Parse<Json>(manifest_text);
  const Json* packages = jr::Array(manifest, "packages");
  if (packages == nullptr) {
    error = "the Visual Studio manifest is not readable";
    return false;
  }
  const PackageIndex index = IndexPackages(*packages);

  Tool msvc;
  Tool winsdk;
  if (!MakeMsvcTool(entries, index, msvc, error)) return false;
  if (!MakeSdkTool(entries, index, winsdk, error)) return false;
  if (!CheckFileNames(msvc, error) || !CheckFileNames(winsdk, error)) return false;
  toolchain.sdk_version = entries.sdk_version;
  toolchain.tools.push_back(std::move(msvc));
  toolchain.tools.push_back(std::move(winsdk));
  return true;
}

std::vector<std::string> FindCabNames(const std::vector<uint8_t>& msi) {
  constexpr size_t kDigits = 32;
  static constexpr uint8_t kSuffix[] = {'.', 'c', 'a', 'b'};
  auto is_lower_hex = [](uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
  std::set<std::string> names;
  for (size_t at = kDigits; at + sizeof kSuffix <= msi.size(); ++at) {
    if (!std::equal(std::begin(kSuffix), std::end(kSuffix), msi.begin() + at)) continue;
    bool hex = true;
    for (size_t i = at - kDigits; i < at && hex; ++i) hex = is_lower_hex(msi[i]);
    if (hex) names.emplace(msi.begin() + (at - kDigits), msi.begin() + at + sizeof kSuffix);
  }
  return {names.begin(), names.end()};
}

}  // namespace launcher
