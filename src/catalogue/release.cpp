#include "catalogue/release.h"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

#include "catalogue/json_read.h"
#include "platform/ascii.h"
#include "platform/download.h"
#include "platform/progress.h"

namespace launcher {
namespace {

constexpr std::string_view kDigestPrefix = "sha256:";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one asset of the release JSON into the launcher fields of `out`.
void ReadLauncherAsset(const nlohmann::json& asset, Release& out) {
  out.browser_download_url = JsonStringField(asset, "browser_download_url");
  out.size = json_read::Unsigned(asset, "size", 0);
  const std::string digest = JsonStringField(asset, "digest");
  if (StartsWith(digest, kDigestPrefix)) out.sha256 = digest.substr(kDigestPrefix.size());
}

}  // namespace

std::vector<uint32_t> ParseVersionTag(const std::string& tag) {
  if (tag.size() < 2 || (tag[0] != 'v' && tag[0] != 'V') || !IsDigit(tag[1])) return {};
  std::vector<uint32_t> groups;
  uint64_t group = 0;
  bool has_digit = false;
  for (size_t i = 1; i < tag.size(); ++i) {
    const char c = tag[i];
    if (IsDigit(c)) {
      group = group * 10 + uint64_t(c - '0');
      // A group too large for 32 bits would wrap around to a smaller version: refuse the tag.
      if (group > std::numeric_limits<uint32_t>::max()) return {};
      has_digit = true;
    } else if (c == '.' && has_digit) {
      groups.push_back(uint32_t(group));
      group = 0;
      has_digit = false;
    } else {
      return {};
    }
  }
  if (!has_digit) return {};  // a dot at the end
  groups.push_back(uint32_t(group));
  return groups;
}

bool IsVersionTag(const std::string& tag) { return !ParseVersionTag(tag).empty(); }

int CompareVersionTags(const std::string& a, const std::string& b) {
  const std::vector<uint32_t> left = ParseVersionTag(a);
  const std::vector<uint32_t> right = ParseVersionTag(b);
  if (left.empty() || right.empty()) return int(!left.empty()) - int(!right.empty());
  const size_t count = std::max(left.size(), right.size());
  for (size_t i = 0; i < count; ++i) {
    const uint32_t x = i < left.size() ? left[i] : 0;
    const uint32_t y = i < right.size() ? right[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

HostingService& Hosting() {
  static HostingService hosting;
  return hosting;
}

std::string LatestReleaseApiUrl(const std::string& repo) {
  const HostingService& hosting = Hosting();
  if (hosting.site.empty() || !StartsWith(repo, hosting.site)) return "";
  std::string rest = repo.substr(hosting.site.size());
  if (rest.size() >= 5 && EndsWith(rest, ".git")) rest.resize(rest.size() - 4);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty() || rest.find('/') == std::string::npos) return "";
  return hosting.api + "/repos/" + rest + "/releases/latest";
}

std::string JsonStringField(const nlohmann::json& value, const char* key) {
  return json_read::Text(value, key);
}

bool FetchLatestRelease(Http& http, const GameDescription& game, Release& out,
                        std::string& error, const std::atomic<bool>* cancel) {
  const std::string url = LatestReleaseApiUrl(game.repo);
  if (url.empty()) {
    error = "the game's repository is not on GitHub";
    return false;
  }
  std::string text;
  if (!FetchText(http, url, text, error, cancel)) return false;
  const nlohmann::json release = json_read::Parse<nlohmann::json>(text);
  if (!release.is_object() || !release.contains("tag_name")) {
    error = "no published release";
    return false;
  }
  out = Release();
  out.tag_name = JsonStringField(release, "tag_name");
  out.name = JsonStringField(release, "name");
  out.body = JsonStringField(release, "body");
  out.html_url = JsonStringField(release, "html_url");

  const std::string asset_name = game.short_name + "Launcher.exe";
  if (const nlohmann::json* assets = json_read::Array(release, "assets")) {
    for (const nlohmann::json& asset : *assets) {
      if (asset.is_object() && JsonStringField(asset, "name") == asset_name) {
        ReadLauncherAsset(asset, out);
      }
    }
  }
  return !out.tag_name.empty();
}

}  // namespace launcher
