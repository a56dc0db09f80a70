// Texts for the document and line targets: the built-in game.json and toolchain.json, answers
// shaped like the hosting service's and Visual Studio's, settings files and the game's lines.
// Several documents in one input are separated by NUL bytes.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/builtin_texts.h"
#include "seeds/seeds.h"

namespace launcher::fuzz {
namespace {

using nlohmann::json;

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += '\0';
    joined += parts[i];
  }
  return joined;
}

void MakeGameSeeds(Seeds& out) {
  out.Add("built_in", BuiltInGameJson());
  json game = json::parse(BuiltInGameJson(), nullptr, false);
  game["packages"] =
      json::object({{"b95fbdd6ccba7d54869e81cf2460c0fb2d5a5b48", "Halvorn-usa.zip"}});
  game["music"] = true;
  game["xbes"] = {"default.xbe", "extra.xbe"};
  game["release_xbes"] = json::object({{"USA, Europe", json::array({"default.xbe"})}});
  out.Add("packages", game.dump(1));
}

void MakeToolchainSeeds(Seeds& out) { out.Add("built_in", BuiltInToolchainJson()); }

void MakeReleaseSeeds(Seeds& out) {
  const json release = {
      {"tag_name", "v1.2.3"},
      {"name", "Launcher 1.2.3"},
      {"body", "Fixes."},
      {"html_url", "https://github.com/kelvane/halvorn-native/releases/tag/v1.2.3"},
      {"assets",
       {{{"name", "HalvornLauncher.exe"},
         {"browser_download_url", "https://github.com/x/HalvornLauncher.exe"},
         {"digest", "sha256:" + std::string(64, 'a')},
         {"size", 123456}},
        {{"name", "other.zip"}}}},
  };
  out.Add("release", Join({release.dump(), "v1.2.3", "v1.10"}));
  out.Add("no_tag", Join({"{}", "1.0", "v1.0.0.0"}));
}

std::string Sha(char c) { return std::string(64, c); }

json Payload(const std::string& file_name, uint64_t size) {
  return {{"fileName", file_name}, {"sha256", Sha('A')}, {"size", size},
          {"url", "https://download.visualstudio.microsoft.com/pr/" + file_name}};
}

void MakeMicrosoftSeeds(Seeds& out) {
  const json toolchain = json::parse(BuiltInToolchainJson(), nullptr, false);
  const std::string version = toolchain["msvc"]["version"];
  const json channel = {
      {"channelItems",
       json::array({{{"id", "Microsoft.VisualStudio.Manifests.VisualStudio"},
         {"type", "Manifest"},
         {"payloads", json::array({Payload("VisualStudio.vsman", 1)})}}})}};
  json packages = json::array();
  for (const json& name : toolchain["msvc"]["packages"]) {
    std::string id = name;
    id.replace(id.find("{v}"), 3, version);
    packages.push_back({{"id", id}, {"version", "14.44"}, {"chip", "x64"},
                        {"payloads", json::array({Payload(id + ".vsix", 100)})}});
  }
  json sdk_payloads = json::array();
  sdk_payloads.push_back(Payload("Installers\\0123456789abcdef0123456789abcdef.cab", 70));
  for (const json& msi : toolchain["sdk"]["msis"]) {
    sdk_payloads.push_back(Payload("Installers\\" + msi.get<std::string>(), 1000));
  }
  packages.push_back({{"id", toolchain["sdk"]["package"]}, {"type", "Exe"},
                      {"payloads", sdk_payloads}});
  const json manifest = {{"packages", packages}};
  out.Add("built_in", Join({"", channel.dump(), manifest.dump()}));
}

void MakeSettingsSeeds(Seeds& out) {
  const json settings = {{"game", "/games/Halvorn.iso"},
                         {"game_sha1", "b95fbdd6ccba7d54869e81cf2460c0fb2d5a5b48"},
                         {"built", "v1.0"},
                         {"play_at_start", false},
                         {"music", "/music"}};
  out.Add("full", Join({settings.dump(2), "/games/other.iso"}));
  out.Add("not_an_object", Join({"[1, 2]", "x"}));
  out.Add("bad_utf8", Join({"{\"game\": \"caf\xc3\"}", "\xff\xfe"}));
}

void MakeEntryNameSeeds(Seeds& out) {
  out.Add("clang", Join({"top/bin/api-ms-win-core-file-l1-1-0.dll", "tar.xz", "\x01",
                         Join({"bin/clang.exe", "bin/api-ms-win-*.dll", "lib/clang/"})}));
  out.Add("vsix", Join({"Contents%2FVC/include/a%20b.h", "vsix", "", ""}));
  out.Add("strip", Join({"a//b/../c", "zip", "\x02", "*"}));
}

void MakePrepareLineSeeds(Seeds& out) {
  const std::string six_seconds("\x00\x5c\x8f\x65\x01\x00\x00\x00", 8);
  const std::string zero(8, '\0');
  out.Add("progress", six_seconds + "progress 1 12 340 5 100");
  out.Add("finishing", zero + "progress 2 340 340 100 100");
  out.Add("failed", zero + "failed the disc could not be read");
  out.Add("trace", zero + "[12.5] Game code: 40 functions");
}

void MakeRedirectUrlSeeds(Seeds& out) {
  out.Add("download", "https://objects.githubusercontent.com/github-production-release-asset/1?x=y");
  out.Add("user and port", "http://user:pass@[::1]:8080/a#b");
  out.Add("no scheme", "objects.githubusercontent.com/a");
  out.Add("status", "the server answered 429 for https://github.com/a");
}

const bool registered = RegisterSeeds("game_description", MakeGameSeeds) &&
                        RegisterSeeds("toolchain", MakeToolchainSeeds) &&
                        RegisterSeeds("release", MakeReleaseSeeds) &&
                        RegisterSeeds("microsoft_packages", MakeMicrosoftSeeds) &&
                        RegisterSeeds("settings", MakeSettingsSeeds) &&
                        RegisterSeeds("entry_names", MakeEntryNameSeeds) &&
                        RegisterSeeds("prepare_line", MakePrepareLineSeeds) &&
                        RegisterSeeds("redirect_url", MakeRedirectUrlSeeds);

}  // namespace
}  // namespace launcher::fuzz
