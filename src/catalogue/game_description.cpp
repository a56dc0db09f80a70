#include "catalogue/game_description.h"

#include <nlohmann/json.hpp>

#include "catalogue/file_names.h"
#include "catalogue/json_read.h"
#include "platform/ascii.h"

namespace launcher {
namespace {

// Members are walked in the order the text gives them, so that of two names equal once
// lower-cased the later one in the text wins.
using Json = nlohmann::ordered_json;
namespace jr = json_read;

// Each member with a text value, its name lower-cased; members of other types are passed over.
std::map<std::string, std::string> ReadTextMap(const Json& document, const char* key) {
  std::map<std::string, std::string> map;
  const Json* object = jr::Object(document, key);
  if (object == nullptr) return map;
  for (auto it = object->begin(); it != object->end(); ++it) {
    if (it.value().is_string()) map[AsciiLower(it.key())] = it.value().template get<std::string>();
  }
  return map;
}

// Each member with an array value, as its text elements; members of other types are passed over.
std::map<std::string, std::vector<std::string>> ReadListMap(const Json& document,
                                                            const char* key) {
  std::map<std::string, std::vector<std::string>> map;
  const Json* object = jr::Object(document, key);
  if (object == nullptr) return map;
  for (auto it = object->begin(); it != object->end(); ++it) {
    if (it.value().is_array()) map[AsciiLower(it.key())] = jr::TextList(it.value());
  }
  return map;
}

// The list under `key`, [fallback] when absent; an empty list gets `fallback` as its element.
std::vector<std::string> ReadNameList(const Json& document, const char* key,
                                      const std::string& fallback) {
  std::vector<std::string> list = jr::TextList(document, key, {fallback});
  if (list.empty()) list.push_back(fallback);
  return list;
}

}  // namespace

bool ParseGameDescription(std::string_view json, GameDescription& game, std::string& error) {
  const Json document = jr::Parse<Json>(json);
  if (document.is_discarded()) {
    error = "game.json is not readable";
    return false;
  }
  game.title = jr::Text(document, "title");
  game.short_name = jr::Text(document, "short");
  game.exe = jr::Text(document, "exe", game.short_name);
  game.xbe = jr::Text(document, "xbe", "default.xbe");
  game.repo = jr::Text(document, "repo");
  game.branch = jr::Text(document, "branch", "main");
  game.toolchain = jr::Text(document, "toolchain");
  game.music = jr::Bool(document, "music", false);
  game.package = jr::Text(document, "package");
  game.packages = ReadTextMap(document, "packages");
  game.xbes = ReadNameList(document, "xbes", game.xbe);
  game.exes = ReadNameList(document, "exes", game.exe);
  game.releases = ReadTextMap(document, "releases");
  game.release_xbes = ReadListMap(document, "release_xbes");

  if (game.title.empty() || game.short_name.empty() || game.repo.empty() ||
      game.releases.empty()) {
    error = "game.json needs a title, a short name, a repo and its releases";
    return false;
  }
  // A package's name is also its file name in the downloads folder and beside the launcher.
  std::vector<std::string> package_names = {game.package};
  for (const auto& [sha1, name] : game.packages) package_names.push_back(name);
  for (const std::string& name : package_names) {
    if (!name.empty() && !IsPlainFileName(name)) {
      error = "game.json names a package that is not a plain file name: " + name;
      return false;
    }
  }
  return true;
}

}  // namespace launcher
