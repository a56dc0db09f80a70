// Version tags and the project's latest published release.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "catalogue/game_description.h"
#include "platform/http.h"

namespace launcher {

struct Release {
  std::string tag_name;
  std::string name;
  std::string body;
  std::string html_url;
  std::string browser_download_url;  // the launcher asset's
  std::string sha256;                // the launcher asset's, without "sha256:"
  uint64_t size = 0;                 // the launcher asset's
};

// The groups of a tag such as "v1.0"; empty when the text is not a version tag (a group too
// large for 32 bits makes it no tag).
std::vector<uint32_t> ParseVersionTag(const std::string& tag);
bool IsVersionTag(const std::string& tag);
// -1 when a is older than b, 0 when equal, 1 when newer.
int CompareVersionTags(const std::string& a, const std::string& b);

// Where the hosting service lives: the site prefix repository URLs begin with, and the API
// prefix, each with its scheme ("https://github.com/", "https://api.github.com"). Tests point
// them at a server of their own.
struct HostingService {
  std::string site = "https://github.com/";  // ends with '/'
  std::string api = "https://api.github.com";  // no '/' at the end
};
// The process's one configuration; change it only while nothing is fetching.
HostingService& Hosting();

// The API URL of the repository's latest release, or "" when it is not on the hosting service.
std::string LatestReleaseApiUrl(const std::string& repo);

// The repository's latest release and, from its assets, the one named short name +
// "Launcher.exe" (missing asset fields stay empty). False with `error` set when the repository is
// not on the hosting service, the fetch fails or no release is published; false with `error`
// unchanged when the release's "tag_name" is empty.
// A set `cancel` ends the fetch with kCancelled.
bool FetchLatestRelease(Http& http, const GameDescription& game, Release& out,
                        std::string& error, const std::atomic<bool>* cancel = nullptr);

// The member's text when `value` is an object and the member a string, else "".
std::string JsonStringField(const nlohmann::json& value, const char* key);

}  // namespace launcher
