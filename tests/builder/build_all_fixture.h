// The build from source with every real part: tools served from 127.0.0.1 (a zip, a tar.xz with
// a strip count, a keep list and a GNU long name, an optional tool, and Microsoft's packages
// resolved through a Visual Studio channel and manifest: .vsix files and a Windows Installer
// package with its external cabinet), the game's source in a git repository with a branch, the
// launcher's version tag and a submodule, cloned over file://, and a small CMake project that the
// system's cmake and ninja build into the game.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "source_build_fixture.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/system_state.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher::test {

namespace fs = std::filesystem;

inline const std::string kLongName = "bin/" + std::string(110, 'l') + ".txt";

// The game's source: a CMake project with a "release" preset. Configuring writes what the
// environment held; the build makes the game, its library and a tool nobody installs.
inline const char* const kCMakeLists = R"(cmake_minimum_required(VERSION 3.20)
project(Halvorn CXX)
file(WRITE "${CMAKE_BINARY_DIR}/environment.txt"
  "PATH=$ENV{PATH}\nINCLUDE=$ENV{INCLUDE}\nLIB=$ENV{LIB}\n"
  "VCToolsInstallDir=$ENV{VCToolsInstallDir}\nWindowsSdkDir=$ENV{WindowsSdkDir}\n"
  "WindowsSDKVersion=$ENV{WindowsSDKVersion}\nGIT_CONFIG_COUNT=$ENV{GIT_CONFIG_COUNT}\n"
  "GIT_CONFIG_KEY_0=$ENV{GIT_CONFIG_KEY_0}\nGIT_CONFIG_VALUE_0=$ENV{GIT_CONFIG_VALUE_0}\n")
# The player's XBE must be in the tree before the build is configured.
configure_file(assets/default.xbe xbe.bin COPYONLY)
add_library(game SHARED game.cpp)
set_target_properties(game PROPERTIES OUTPUT_NAME Halvorn PREFIX "" SUFFIX ".dll")
add_executable(halvorn main.cpp)
set_target_properties(halvorn PROPERTIES OUTPUT_NAME Halvorn)
target_include_directories(halvorn PRIVATE lib)
target_link_libraries(halvorn PRIVATE game)
add_executable(tool tool.cpp)
)";

inline const char* const kPresets = R"({
  "version": 3,
  "configurePresets": [{
    "name": "release",
    "generator": "Ninja",
    "binaryDir": "${sourceDir}/out/build/release",
    "cacheVariables": {"CMAKE_BUILD_TYPE": "Release"}
  }]
})";

class BuildAllTest : public SourceBuildTest {
 protected:
  using json = nlohmann::json;
  void SetUp() override {
    // git reads this for every command, the launcher's included: who commits, and that the
    // submodule may come over file://.
    const fs::path git_config = scratch / "gitconfig";
    WriteFile(git_config,
              "[user]\n\tname = Tests\n\temail = tests@example.invalid\n"
              "[protocol \"file\"]\n\tallow = always\n[init]\n\tdefaultBranch = main\n");
    git_env_ = std::make_unique<ScopedEnv>("GIT_CONFIG_GLOBAL", PathToUtf8(git_config));
    git_nosystem_ = std::make_unique<ScopedEnv>("GIT_CONFIG_NOSYSTEM", "1");

    MakeRepository();
    MakeTools();
    ServeTools();
    game.title = "Halvorn";
    game.exes = {"Halvorn"};
    game.xbes = {"default.xbe"};
    game.repo = "file://" + PathToUtf8(scratch / "repos" / "game");
    game.branch = "main";
    game.toolchain = server.Url("/toolchain.json");
    ChooseGameCopy();
  }

  // Runs a program the test needs (git, wixl, gcab) and fails the test when it fails.
  void Run(const std::vector<std::string>& args, const fs::path& cwd) {
    std::string output;
    const int code = platform.Run(
        args, cwd, {}, [&](const std::string& line) { output += line + "\n"; }, nullptr);
    ASSERT_EQ(code, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << ":\n" << output;
  }
  void Git(const std::vector<std::string>& args, const fs::path& cwd) {
    std::vector<std::string> all = {"git"};
    all.insert(all.end(), args.begin(), args.end());
    Run(all, cwd);
  }

  void MakeRepository() {
    const fs::path lib = scratch / "repos" / "lib";
    WriteFile(lib / "version.h", "#define GAME_VERSION \"1.0\"\n");
    Git({"init", "-q"}, lib);
    Git({"add", "."}, lib);
    Git({"commit", "-q", "-m", "version"}, lib);

    const fs::path repo = scratch / "repos" / "game";
    WriteFile(repo / "CMakeLists.txt", kCMakeLists);
    WriteFile(repo / "CMakePresets.json", kPresets);
    WriteFile(repo / "game.cpp", "extern \"C\" int GameMain() { return 0; }\n");
    WriteFile(repo / "main.cpp",
              "#include \"version.h\"\nextern \"C\" int GameMain();\n"
              "int main() { return GameMain() + (GAME_VERSION[0] == '1' ? 0 : 1); }\n");
    WriteFile(repo / "tool.cpp", "int main() { return 0; }\n");
    WriteFile(repo / ".gitignore", "/out/\n/assets/\n");
    Git({"init", "-q"}, repo);
    Git({"submodule", "add", "-q", "file://" + PathToUtf8(lib), "lib"}, repo);
    Git({"add", "."}, repo);
    Git({"commit", "-q", "-m", "the game"}, repo);
    Git({"tag", "v1.0"}, repo);
  }

  void MakeTools() {
    zipped =
        Serve("/dl/zipped-1.0.zip", ZipBytes("zipped.zip", {{"bin/zipped.txt", "zipped tool"}}));

    TarWriter tar;
    tar.Folder("packed-2.0/");
    tar.File("packed-2.0/bin/packed.txt", "packed tool");
    tar.LongName("packed-2.0/" + kLongName);
    tar.File("packed-2.0/bin/truncated", "long named");
    tar.File("packed-2.0/share/doc/keep.txt", "kept");
    tar.File("packed-2.0/share/doc/drop.txt", "dropped");
    tar.File("packed-2.0/README", "dropped");
    packed = Serve("/dl/packed-2.0.tar.xz", XzCompress(tar.Finish()));

    extra = Serve("/dl/extra-3.0.zip", ZipBytes("extra.zip", {{"extra.txt", "never"}}));

    // Three .vsix packages; the third is large, so that a stop can fall inside it.
    const std::string msvc = "Contents/" + kMsvcFolder + "/";
    vsix = {Serve("/vs/headers.vsix",
                  ZipBytes("headers.vsix", {{"extension.vsixmanifest", "<manifest/>"},
                                            {msvc + "include/vcruntime.h", "vcruntime"}})),
            Serve("/vs/desktop.vsix",
                  ZipBytes("desktop.vsix", {{msvc + "lib/x64/vcruntime.lib", "library"}})),
            Serve("/vs/source.vsix",
                  ZipBytes("source.vsix",
                           {{msvc + "crt/src/big.c", SampleBytes(600 * 1024, 7), false, false}}))};

    // The Windows SDK: an installer whose files lie in an external cabinet.
    const fs::path work = scratch / "fixtures" / "msi";
    WriteFile(work / "corecrt.h", "corecrt");
    WriteFile(work / "package.wxs", SdkWxs());
    Run({"wixl", "-o", "sdk.msi", "package.wxs"}, work);
    Run({"gcab", "-c", "-n", kCab, "corecrt.h"}, work);
    msi = Serve("/vs/sdk-headers.msi", ReadFile(work / "sdk.msi"));
    cab = Serve("/vs/" + kCab, ReadFile(work / kCab));
    unnamed_cab = Serve("/vs/" + kUnnamedCab, "no installer names this cabinet");
  }

  static std::string SdkWxs() {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="SDK Headers" Language="1033" Version="1.0.0" Manufacturer="Tests"
           UpgradeCode="6f1c2a34-58d4-4c1e-9a57-0d3b6f1e2a91">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet=")" +
           kCab + R"(" EmbedCab="no"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="KITS" Name="Windows Kits"><Directory Id="TEN" Name="10">
        <Directory Id="INC" Name="Include"><Directory Id="VER" Name=")" +
           kSdkVersion + R"(">
          <Directory Id="UCRT" Name="ucrt">
            <Component Id="C" Guid="2d5e8b71-3c0a-4f6e-8b12-7a9c4d1e5f04">
              <File Id="corecrt.h" Source="corecrt.h" Name="corecrt.h"/>
            </Component>
          </Directory>
        </Directory></Directory>
      </Directory></Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="C"/></Feature>
  </Product>
</Wix>
)";
  }

  void ServeTools() {
    json packed_entry = ToolEntry("packed", packed);
    packed_entry["kind"] = "tar.xz";
    packed_entry["strip"] = 1;
    packed_entry["keep"] = {"bin/", "share/doc/keep.txt"};
    json extra_entry = ToolEntry("extra", extra);
    extra_entry["optional"] = true;
    ServeToolchain({ToolEntry("zipped", zipped), packed_entry, extra_entry});
  }

  // The stamps the tools get, and the build-tools stamp they make.
  std::string PackedStamp() const { return packed.sha256 + " bin/ share/doc/keep.txt"; }
  std::string ToolsStamp() const {
    return "zipped " + zipped.sha256 + "\npacked " + PackedStamp() + "\nmsvc " + MsvcStamp() +
           "\nwinsdk " + SdkStamp() + "\n";
  }

  int ToolRequests() const {
    int count = 0;
    for (const Served& file :
         {zipped, packed, extra, vsix[0], vsix[1], vsix[2], msi, cab, unnamed_cab}) {
      count += server.Count(file.path);
    }
    return count;
  }

  static std::vector<std::string> AllStages() {
    return {"build tools list", "tool zipped",       "tool packed",
            "tool msvc",        "tool winsdk",       "game source",
            "game's xbe",       "configure (cmake)", "compile and link (cmake --build)",
            "install"};
  }

  std::unique_ptr<ScopedEnv> git_env_;
  std::unique_ptr<ScopedEnv> git_nosystem_;
  Served zipped, packed, extra;
};

}  // namespace launcher::test
