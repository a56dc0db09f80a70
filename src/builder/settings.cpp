// The root's layout as path queries, and launcher.json: every read parses the file anew, every
// write reads it, changes one key and puts the whole file back, under the Builder's settings
// mutex so that writers on two threads never lose each other's key.
#include <system_error>

#include <nlohmann/json.hpp>

#include "builder/builder.h"
#include "catalogue/json_read.h"
#include "platform/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
using nlohmann::json;
namespace {

// The settings as a JSON object; null when the file is missing, unreadable or not an object.
json ReadSettings(const fs::path& file) {
  std::string text;
  if (!ReadWholeFile(file, text)) return json();
  json settings = json_read::Parse<json>(text);
  if (!settings.is_object()) return json();
  return settings;
}

}  // namespace

void Builder::WriteSetting(const std::string& key, const nlohmann::json& value) {
  const fs::path file = root / "launcher.json";
  std::lock_guard<std::mutex> lock(settings_mutex);
  json settings = ReadSettings(file);
  if (!settings.is_object()) settings = json::object();
  settings[key] = value;
  // Non-ASCII text stays UTF-8; a value that is not valid UTF-8 is mended rather than thrown on.
  // Text mode, as the file has always been written: CR LF line ends on Windows. Written whole
  // beside it and renamed over it, so that a kill, a full disk or a power cut leaves the
  // previous settings whole.
  ReplaceWholeFile(file, settings.dump(2, ' ', false, json::error_handler_t::replace),
                   FileMode::kText);
}

bool Builder::PackageMode() const { return !game.package.empty() || !game.packages.empty(); }

fs::path Builder::PlayFolder() const { return root / "play"; }

fs::path Builder::ToolFolder(const std::string& id) const { return root / "tools" / id; }

fs::path Builder::GameExe() const {
  return PlayFolder() / PathFromUtf8(game.exe + platform->ExeSuffix());
}

bool Builder::IsGameInPlace() const {
  if (SwapUnfinished()) return false;
  std::error_code ec;
  if (!fs::exists(GameExe(), ec)) return false;
  if (!PackageMode()) return true;
  return fs::exists(PlayFolder() / PathFromUtf8(game.exe + ".dll"), ec);
}

void Builder::SetSetting(const std::string& key, const std::string& value) {
  WriteSetting(key, json(value));
}

void Builder::SetPlayAtStart(bool on) { WriteSetting("play_at_start", json(on)); }

std::string Builder::SettingText(const std::string& key) const {
  return json_read::Text(ReadSettings(root / "launcher.json"), key.c_str());
}

std::string Builder::BuiltVersion() const { return SettingText("built"); }

bool Builder::PlayAtStart() const {
  return json_read::Bool(ReadSettings(root / "launcher.json"), "play_at_start", false);
}

}  // namespace launcher
