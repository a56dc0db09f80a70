// What the tests of the build from source share: a Builder over a game whose copy is a disc
// image the test makes, a server on 127.0.0.1 that plays every host the build downloads from
// (toolchain.json, the tools, the Visual Studio channel and manifest with Microsoft's packages),
// and readers of the stages and lines the build logged.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "catalogue/game_copy.h"
#include "platform/sha.h"
#include "support/disc_image_writer.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher::test {

inline const std::string kMsvcVersion = "14.44.17.14";
inline const std::string kSdkPackage = "Win11SDK_10.0.26100";
inline const std::string kSdkVersion = "10.0.26100.0";
// The cabinet the SDK's installer names, and one the manifest lists that no installer names.
inline const std::string kCab = "0123456789abcdef0123456789abcdef.cab";
inline const std::string kUnnamedCab = "fedcba9876543210fedcba9876543210.cab";
// Where the .vsix packages put the MSVC libraries and headers.
inline const std::string kMsvcFolder = "VC/Tools/MSVC/14.44.35207";

class SourceBuildTest : public BuilderTest {
 protected:
  // A file the server offers, with the digest the descriptions give for it.
  struct Served {
    std::string path;
    std::string bytes;
    std::string sha256;
  };

  Served Serve(const std::string& path, std::string bytes) {
    Sha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Served served{path, std::move(bytes), sha.FinalHex()};
    server.Serve(path, served.bytes);
    return served;
  }

  // The bytes of a zip holding `entries`.
  std::string ZipBytes(const std::string& name, const std::vector<ZipEntry>& entries) {
    const std::filesystem::path file = scratch / "fixtures" / name;
    std::filesystem::create_directories(file.parent_path());
    WriteZip(file, entries);
    return ReadFile(file);
  }

  // The game's copy: a disc image whose XBE names a supported release, chosen for the Builder.
  void ChooseGameCopy() {
    xbe = "XBEH" + std::string(500, 'x');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    game.releases = {{sha1.FinalHex(), "Europe"}};
    image = scratch / "games" / "Halvorn.iso";
    DiscImageWriter disc;
    disc.AddFile("default.xbe", xbe);
    std::filesystem::create_directories(image.parent_path());
    ASSERT_TRUE(disc.WriteGamePartition(image));
    MakeBuilder();
    std::string error;
    ASSERT_TRUE(builder->ChooseGame(IdentifyGameCopy(game, image), error)) << error;
    log.clear();
  }

  // An entry of toolchain.json's "tools" for a served archive.
  nlohmann::json ToolEntry(const std::string& id, const Served& served) const {
    return {{"id", id}, {"title", id + " tool"}, {"url", server.Url(served.path)},
            {"sha256", served.sha256}, {"size", served.bytes.size()}};
  }

  // Serves toolchain.json with `tools`, and the Visual Studio channel and manifest with one
  // package per .vsix for "msvc" and, for "sdk", a package holding the installer "SDK
  // Headers.msi" and the cabinets.
  void ServeToolchain(const nlohmann::json& tools) {
    using nlohmann::json;
    static const char* const kParts[] = {"Headers", "x64.Desktop", "Source"};
    json names = json::array();
    json packages = json::array();
    for (size_t i = 0; i < vsix.size(); ++i) {
      names.push_back(std::string("Microsoft.VC.{v}.CRT.") + kParts[i] + ".base");
      packages.push_back({{"id", "Microsoft.VC." + kMsvcVersion + ".CRT." + kParts[i] + ".base"},
                          {"chip", i == 1 ? "x64" : ""},
                          {"payloads", {Payload("vsix" + std::to_string(i) + ".vsix", vsix[i])}}});
    }
    packages.push_back(
        {{"id", kSdkPackage},
         {"payloads",
          {Payload("Installers\\" + kUnnamedCab, unnamed_cab),
           Payload("Installers\\SDK Headers.msi", msi), Payload("Installers\\" + kCab, cab),
           Payload("winsdksetup.exe", unnamed_cab)}}});
    toolchain_json = {
        {"tools", tools},
        {"msvc", {{"channel", server.Url("/channel")}, {"version", kMsvcVersion},
                  {"packages", names}}},
        {"sdk", {{"package", kSdkPackage}, {"version", kSdkVersion},
                 {"msis", {"SDK Headers.msi"}}}},
    };
    server.Serve("/toolchain.json", toolchain_json.dump(4));
    const json channel = {
        {"channelItems",
         {{{"id", "Microsoft.VisualStudio.Manifests.VisualStudio"},
           {"payloads", {{{"fileName", "VisualStudio.vsman"}, {"url", server.Url("/manifest")}}}}}}}};
    server.Serve("/channel", channel.dump());
    server.Serve("/manifest", json{{"packages", packages}}.dump());
  }

  nlohmann::json Payload(const std::string& file_name, const Served& served) const {
    return {{"fileName", file_name}, {"sha256", served.sha256}, {"size", served.bytes.size()},
            {"url", server.Url(served.path)}};
  }

  // The stamps of Microsoft's two tools.
  static std::string MsvcStamp() { return kMsvcVersion; }
  static std::string SdkStamp() { return kSdkPackage + " SDK Headers.msi"; }

  // The log lines since the last clear that begin with `prefix`.
  std::vector<std::string> LinesStarting(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> found;
    for (const std::string& line : log) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
  }

  // The stages logged since the last clear, in order, with " (stopped)" where one stopped.
  std::vector<std::string> Stages() const {
    static const std::regex stage("stage (.*): [0-9]+\\.[0-9] s( \\(stopped\\))?");
    std::vector<std::string> names;
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& line : log) {
      std::smatch match;
      if (std::regex_match(line, match, stage)) names.push_back(match[1].str() + match[2].str());
    }
    return names;
  }

  // The lines of the environment the stand-in or the test project's configure wrote.
  std::vector<std::string> ConfigureEnvironment() const {
    return TextLines(ReadFile(BuildFolder() / "environment.txt"));
  }

  // What PATH, INCLUDE and LIB must begin with, and the other variables, in the order the
  // environment file lists them.
  std::vector<std::string> ExpectedEnvironment() {
    const std::filesystem::path sdk = Tools() / "winsdk" / "Windows Kits" / "10";
    const std::filesystem::path msvc = Tools() / "msvc" / "VC" / "Tools" / "MSVC" / "14.44.35207";
    const std::filesystem::path include = sdk / "Include" / kSdkVersion;
    const std::filesystem::path lib = sdk / "Lib" / kSdkVersion;
    const char separator = platform.PathListSeparator();
    return {
        "PATH=" + JoinStrings(separator, {Tools() / "llvm" / "bin", Tools() / "cmake" / "bin",
                                          Tools() / "ninja", Tools() / "git" / "cmd",
                                          sdk / "bin" / kSdkVersion / "x64"}) + separator,
        "INCLUDE=" + JoinStrings(separator, {msvc / "include", include / "ucrt",
                                             include / "shared", include / "um",
                                             include / "winrt", include / "cppwinrt"}),
        "LIB=" + JoinStrings(separator, {msvc / "lib" / "x64", lib / "ucrt" / "x64",
                                         lib / "um" / "x64"}),
        "VCToolsInstallDir=" + PathToUtf8(msvc) + "\\",
        "WindowsSdkDir=" + PathToUtf8(sdk) + "\\",
        "WindowsSDKVersion=" + kSdkVersion + "\\",
        "GIT_CONFIG_COUNT=1",
        "GIT_CONFIG_KEY_0=safe.directory",
        "GIT_CONFIG_VALUE_0=*",
    };
  }

  // Compares the environment file with ExpectedEnvironment(); PATH only by its start.
  void ExpectBuildEnvironment() {
    const std::vector<std::string> expected = ExpectedEnvironment();
    const std::vector<std::string> seen = ConfigureEnvironment();
    ASSERT_EQ(seen.size(), expected.size());
    EXPECT_EQ(seen[0].rfind(expected[0], 0), 0u) << seen[0] << "\nshould begin with\n"
                                                  << expected[0];
    for (size_t i = 1; i < expected.size(); ++i) EXPECT_EQ(seen[i], expected[i]);
  }

  std::filesystem::path Tools() const { return root / "tools"; }
  std::filesystem::path BuildFolder() const {
    return root / "source" / "out" / "build" / "release";
  }

  HttpServer server;
  std::string xbe;
  std::filesystem::path image;
  nlohmann::json toolchain_json;
  std::vector<Served> vsix;
  Served msi, cab, unnamed_cab;
};

}  // namespace launcher::test
