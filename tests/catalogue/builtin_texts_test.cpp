#include "catalogue/builtin_texts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/game_description.h"
#include "catalogue/toolchain.h"

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// `count` lowercase hexadecimal digits and nothing else.
bool IsLowerHex(const std::string& text, size_t count) {
  if (text.size() != count) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The member names of an object in the order the text gives them.
std::vector<std::string> KeysInOrder(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

// The text is laid out as the JSON library writes it with an indent of four spaces, with a
// line feed at the end.
void ExpectFourSpaceLayout(std::string_view text) {
  const auto document = nlohmann::ordered_json::parse(text, nullptr, false);
  ASSERT_FALSE(document.is_discarded());
  EXPECT_EQ(document.dump(4) + "\n", std::string(text));
}

TEST(BuiltInGameJson, IsTheDescribedText) {
  const std::string_view text = BuiltInGameJson();
  EXPECT_EQ(text.size(), 436u);
  ExpectFourSpaceLayout(text);
  const auto document = nlohmann::ordered_json::parse(text, nullptr, false);
  ASSERT_TRUE(document.is_object());
  EXPECT_THAT(KeysInOrder(document), ElementsAre("title", "short", "exe", "xbe", "releases", "repo",
                                                 "branch", "toolchain", "package"));
  EXPECT_EQ(document["title"], "Zemrik: Halvorn");
  EXPECT_EQ(document["short"], "Halvorn");
  EXPECT_EQ(document["exe"], "Halvorn");
  EXPECT_EQ(document["xbe"], "default.xbe");
  EXPECT_EQ(document["branch"], "main");
  EXPECT_EQ(document["package"], "Halvorn-package.zip");
  ASSERT_TRUE(document["releases"].is_object());
  ASSERT_EQ(document["releases"].size(), 1u);
  EXPECT_TRUE(IsLowerHex(document["releases"].begin().key(), 40));
  EXPECT_EQ(document["releases"].begin().value(), "USA, Europe");
}

TEST(BuiltInGameJson, ToolchainIsTheRawFileOfTheRepositorysMainBranch) {
  const auto document = nlohmann::json::parse(BuiltInGameJson(), nullptr, false);
  const std::string repo = document.value("repo", "");
  const std::string toolchain = document.value("toolchain", "");
  const std::string site = "https://github.com/";
  ASSERT_THAT(repo, ::testing::StartsWith(site));
  ASSERT_THAT(repo, ::testing::EndsWith(".git"));
  const std::string owner_and_name = repo.substr(site.size(), repo.size() - site.size() - 4);
  const size_t slash = owner_and_name.find('/');
  ASSERT_NE(slash, std::string::npos);
  EXPECT_GT(slash, 0u);
  EXPECT_EQ(owner_and_name.find('/', slash + 1), std::string::npos);
  EXPECT_EQ(toolchain, "https://raw.githubusercontent.com/" + owner_and_name +
                           "/refs/heads/main/launcher/toolchain.json");
}

TEST(BuiltInGameJson, ParsesIntoTheDescription) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(BuiltInGameJson(), game, error)) << error;
  EXPECT_EQ(game.title, "Zemrik: Halvorn");
  EXPECT_EQ(game.short_name, "Halvorn");
  EXPECT_EQ(game.exe, "Halvorn");
  EXPECT_EQ(game.xbe, "default.xbe");
  ASSERT_THAT(game.releases, SizeIs(1));
  EXPECT_EQ(game.releases.begin()->second, "USA, Europe");
  EXPECT_EQ(game.branch, "main");
  EXPECT_EQ(game.launcher_version, "dev");
  EXPECT_EQ(game.package, "Halvorn-package.zip");
  EXPECT_THAT(game.packages, IsEmpty());
  EXPECT_FALSE(game.music);
  EXPECT_THAT(game.xbes, ElementsAre("default.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("Halvorn"));
  EXPECT_THAT(game.release_xbes, IsEmpty());
}

TEST(BuiltInToolchainJson, IsLaidOutWithFourSpaces) {
  const std::string_view text = BuiltInToolchainJson();
  ASSERT_FALSE(text.empty());
  ExpectFourSpaceLayout(text);
  const auto document = nlohmann::ordered_json::parse(text, nullptr, false);
  EXPECT_THAT(KeysInOrder(document), ElementsAre("tools", "msvc", "sdk"));
}

TEST(BuiltInToolchainJson, ParsesIntoTheFourTools) {
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(std::string(BuiltInToolchainJson()), tools, error)) << error;
  ASSERT_EQ(tools.size(), 4u);

  struct Expected {
    const char* id;
    const char* title;
    const char* kind;
    int strip;
    std::vector<std::string> keep;
    uint64_t size;
    const char* file_name;
    const char* sha256;
  };
  const Expected expected[] = {
      {"llvm", "Clang 19.1.7", "tar.xz", 1,
       {"bin/clang.exe", "bin/clang++.exe", "bin/clang-cl.exe", "bin/lld-link.exe", "bin/lld.exe",
        "bin/llvm-ar.exe", "bin/llvm-lib.exe", "bin/llvm-rc.exe", "bin/llvm-mt.exe",
        "bin/llvm-ranlib.exe", "bin/api-ms-win-*.dll", "bin/ucrtbase.dll", "bin/msvcp140*.dll",
        "bin/vcruntime140*.dll", "bin/concrt140.dll", "lib/clang/"},
       845236708, "clang+llvm-19.1.7-x86_64-pc-windows-msvc.tar.xz",
       "b4557b4f012161f56a2f5d9e877ab9635cafd7a08f7affe14829bd60c9d357f0"},
      {"cmake", "CMake 3.31.12", "zip", 1, {"bin/", "share/"}, 46666397,
       "cmake-3.31.12-windows-x86_64.zip",
       "0c4baa40f28b3f8225eb3fdf6946c987b4fe901403b4eaf2fbbd9378100aaa0c"},
      {"ninja", "Ninja 1.13.2", "zip", 0, {}, 291570, "ninja-win.zip",
       "07fc8261b42b20e71d1720b39068c2e14ffcee6396b76fb7a795fb460b78dc65"},
      {"git", "MinGit 2.56.0", "zip", 0, {}, 35287516, "MinGit-2.56.0-busybox-64-bit.zip",
       "2d432c98e9eee92161f49006a18cba24b33e142c6050be321236910805466f37"},
  };
  for (size_t i = 0; i < tools.size(); ++i) {
    const Tool& tool = tools[i];
    const Expected& want = expected[i];
    SCOPED_TRACE(want.id);
    EXPECT_EQ(tool.id, want.id);
    EXPECT_EQ(tool.title, want.title);
    EXPECT_EQ(tool.kind, want.kind);
    EXPECT_EQ(tool.strip, want.strip);
    EXPECT_EQ(tool.keep, want.keep);
    EXPECT_FALSE(tool.optional);
    ASSERT_EQ(tool.files.size(), 1u);
    EXPECT_EQ(tool.files[0].name, want.file_name);
    EXPECT_THAT(tool.files[0].url, ::testing::StartsWith("https://github.com/"));
    EXPECT_TRUE(IsLowerHex(tool.files[0].sha256, 64)) << tool.files[0].sha256;
    // A placeholder of zeros parses as well as a digest, and fails every download.
    EXPECT_NE(tool.files[0].sha256, std::string(64, '0'));
    EXPECT_EQ(tool.files[0].sha256, want.sha256);
    EXPECT_EQ(tool.files[0].size, want.size);
    EXPECT_EQ(tool.TotalSize(), want.size);
    std::string stamp = tool.files[0].sha256;
    for (const std::string& pattern : want.keep) stamp += " " + pattern;
    EXPECT_EQ(tool.sha256, stamp);
  }
}

TEST(BuiltInToolchainJson, NamesMicrosoftsPackages) {
  const auto document = nlohmann::json::parse(BuiltInToolchainJson(), nullptr, false);
  const nlohmann::json& msvc = document["msvc"];
  EXPECT_EQ(msvc.value("channel", ""), "https://aka.ms/vs/17/release/channel");
  EXPECT_EQ(msvc.value("version", ""), "14.44.17.14");
  EXPECT_EQ(msvc["packages"],
            nlohmann::json({"Microsoft.VC.{v}.CRT.Headers.base",
                            "Microsoft.VC.{v}.CRT.x64.Desktop.base",
                            "Microsoft.VC.{v}.CRT.x64.Store.base",
                            "Microsoft.VC.{v}.CRT.Source.base"}));
  const nlohmann::json& sdk = document["sdk"];
  EXPECT_EQ(sdk.value("package", ""), "Win11SDK_10.0.26100");
  EXPECT_EQ(sdk.value("version", ""), "10.0.26100.0");
  EXPECT_EQ(sdk["msis"],
            nlohmann::json({"Windows SDK Desktop Headers x64-x86_en-us.msi",
                            "Windows SDK Desktop Libs x64-x86_en-us.msi",
                            "Universal CRT Headers Libraries and Sources-x86_en-us.msi",
                            "Windows SDK for Windows Store Apps Headers-x86_en-us.msi",
                            "Windows SDK for Windows Store Apps Libs-x86_en-us.msi",
                            "Windows SDK OnecoreUap Headers x64-x86_en-us.msi",
                            "Windows SDK Desktop Headers x86-x86_en-us.msi",
                            "Windows SDK OnecoreUap Headers x86-x86_en-us.msi",
                            "Windows SDK for Windows Store Apps Headers OnecoreUap-x86_en-us.msi",
                            "Windows SDK Desktop Tools x64-x86_en-us.msi"}));
}

}  // namespace
}  // namespace launcher
