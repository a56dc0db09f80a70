// The root's layout as path queries, and launcher.json: every read parses the file anew, every
// write reads it, changes one key and puts the whole file back.
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "builder/builder.h"
#include "builder/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
using nlohmann::json;
namespace {

// The library parses any depth without recursing, but writes and copies a document by
// recursing once per level: a file nested far deeper than any the launcher writes would
// overflow the stack when it is written back.
constexpr size_t kMaxSettingsDepth = 256;

bool NestedDeeperThan(const json& document, size_t limit) {
  std::vector<std::pair<const json*, size_t>> stack{{&document, 1}};
  while (!stack.empty()) {
    const auto [value, depth] = stack.back();
    stack.pop_back();
    if (depth > limit) return true;
    if (!value->is_structured()) continue;
    for (const json& child : *value) stack.emplace_back(&child, depth + 1);
  }
  return false;
}

// The settings as a JSON object; null when the file is missing, unreadable, not an object or
// nested too deep.
json ReadSettings(const fs::path& file) {
  std::string text;
  if (!ReadWholeFile(file, text)) return json();
  json settings = json::parse(text, nullptr, false);
  if (!settings.is_object() || NestedDeeperThan(settings, kMaxSettingsDepth)) return json();
  return settings;
}

// Writes `text` next to `file` first and then renames it over `file`, so that a full disk or a
// failed write leaves the previous settings whole instead of a truncated file.
void ReplaceFileText(const fs::path& file, const std::string& text) {
  static std::atomic<unsigned> counter{0};
  fs::path temporary = file;
  temporary += ".tmp" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
               std::to_string(counter++);
  bool written = false;
  {
    // Text mode, as the file has always been written: CR LF line ends on Windows.
    std::ofstream out(temporary, std::ios::out | std::ios::trunc);
    if (out) {
      out << text;
      out.close();
      written = !out.fail();
    }
  }
  // On Windows a reader that has launcher.json open at this moment (the other thread) makes the
  // replacing rename fail for a moment; try again briefly rather than lose the write.
  bool moved = false;
  std::string error;
  for (int attempt = 0; written && !moved && attempt < 20; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    moved = MoveReplacing(temporary, file, error);
  }
  if (!moved) {
    std::error_code ec;
    fs::remove(temporary, ec);
  }
}

void WriteSetting(const fs::path& file, const std::string& key, json value) {
  json settings = ReadSettings(file);
  if (!settings.is_object()) settings = json::object();
  settings[key] = std::move(value);
  // Non-ASCII text stays UTF-8; a value that is not valid UTF-8 is mended rather than thrown on.
  ReplaceFileText(file, settings.dump(2, ' ', false, json::error_handler_t::replace));
}

}  // namespace

bool ReadWholeFile(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Builder::PackageMode() const { return !game.package.empty() || !game.packages.empty(); }

fs::path Builder::PlayFolder() const { return root / "play"; }

fs::path Builder::ToolFolder(const std::string& id) const { return root / "tools" / id; }

fs::path Builder::GameExe() const {
  return PlayFolder() / PathFromUtf8(game.exe + platform->ExeSuffix());
}

bool Builder::IsGameInPlace() const {
  std::error_code ec;
  if (!fs::exists(GameExe(), ec)) return false;
  if (!PackageMode()) return true;
  return fs::exists(PlayFolder() / PathFromUtf8(game.exe + ".dll"), ec);
}

void Builder::SetSetting(const std::string& key, const std::string& value) {
  WriteSetting(root / "launcher.json", key, json(value));
}

void Builder::SetPlayAtStart(bool on) { WriteSetting(root / "launcher.json", "play_at_start", json(on)); }

std::string Builder::SettingText(const std::string& key) const {
  const json settings = ReadSettings(root / "launcher.json");
  if (!settings.is_object()) return "";
  const auto found = settings.find(key);
  if (found == settings.end() || !found->is_string()) return "";
  return found->get<std::string>();
}

std::string Builder::BuiltVersion() const { return SettingText("built"); }

bool Builder::PlayAtStart() const {
  const json settings = ReadSettings(root / "launcher.json");
  if (!settings.is_object()) return false;
  const auto found = settings.find("play_at_start");
  return found != settings.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace launcher
