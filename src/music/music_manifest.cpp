#include "music/music_manifest.h"

#include <nlohmann/json.hpp>

namespace launcher {
using nlohmann::json;
namespace {

// Each value may be absent (its default stands) or of its own type; anything else makes the
// member unusable.
bool ReadEntry(const json& member, ManifestEntry& entry) {
  if (!member.is_object()) return false;
  if (const auto it = member.find("size"); it != member.end()) {
    if (!it->is_number_unsigned()) return false;
    entry.size = it->get<uint64_t>();
  }
  if (const auto it = member.find("time"); it != member.end()) {
    if (it->is_number_unsigned()) {
      const uint64_t time = it->get<uint64_t>();
      if (time > uint64_t(std::numeric_limits<int64_t>::max())) return false;
      entry.time = int64_t(time);
    } else if (it->is_number_integer()) {
      entry.time = it->get<int64_t>();
    } else {
      return false;
    }
  }
  if (const auto it = member.find("file"); it != member.end()) {
    if (!it->is_string()) return false;
    entry.file = it->get<std::string>();
  }
  if (const auto it = member.find("name"); it != member.end()) {
    if (!it->is_string()) return false;
    entry.name = it->get<std::string>();
  }
  if (const auto it = member.find("ms"); it != member.end()) {
    if (!it->is_number_unsigned() || it->get<uint64_t>() > std::numeric_limits<uint32_t>::max()) {
      return false;
    }
    entry.ms = uint32_t(it->get<uint64_t>());
  }
  return true;
}

}  // namespace

MusicManifest ParseMusicManifest(const std::string& text) {
  MusicManifest manifest;
  const json document = json::parse(text, nullptr, false);
  if (!document.is_object()) return manifest;
  for (const auto& [key, member] : document.items()) {
    ManifestEntry entry;
    if (ReadEntry(member, entry)) manifest.emplace(key, std::move(entry));
  }
  return manifest;
}

std::string MusicManifestText(const MusicManifest& manifest) {
  json document = json::object();
  for (const auto& [key, entry] : manifest) {
    document[key] = json{{"size", entry.size},
                         {"time", entry.time},
                         {"file", entry.file},
                         {"name", entry.name.value_or("")},
                         {"ms", entry.ms}};
  }
  return document.dump(1, ' ', false, json::error_handler_t::replace);
}

}  // namespace launcher
