// The build from source with stand-ins where the system cannot run the real tools (git and CMake
// under Wine, the Windows Installer's administrative install): the stand-ins arrive as the
// toolchain's own "git" and "cmake" tools, so the build must find them under tools/, and they
// record what they were asked.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/source_build_fixture.h"
#include "support/scratch.h"
#include "support/system_state.h"
#include "support/zip_writer.h"

namespace launcher::test {

class BuildAllStandInTest : public SourceBuildTest {
 protected:
  using json = nlohmann::json;
  void SetUp() override {
    record_ = std::make_unique<ScopedEnv>("LAUNCHER_TEST_FAKE_RECORD", PathToUtf8(Record()));
    const std::string fake_cmake = ReadFile(TestProgram("fake_cmake"));
    ASSERT_FALSE(fake_cmake.empty());
    const std::string suffix = platform.ExeSuffix();
    cmake = Serve(
        "/dl/cmake.zip",
        ZipBytes("cmake.zip", {{"cmake-4.0/bin/cmake" + suffix, fake_cmake, false, true, 0755},
                               {"cmake-4.0/doc/readme.txt", "left out"}}));
    git = Serve("/dl/git.zip", GitZip("git.zip", {}));
    vsix = {Serve("/vs/headers.vsix",
                  ZipBytes("headers.vsix",
                           {{"Contents/" + kMsvcFolder + "/include/vcruntime.h", "vcruntime"}}))};
    msi = Serve("/vs/sdk-headers.msi", "an installer whose files are in " + kCab);
    cab = Serve("/vs/" + kCab, "the cabinet");
    unnamed_cab = Serve("/vs/" + kUnnamedCab, "no installer names this cabinet");
    json cmake_entry = ToolEntry("cmake", cmake);
    cmake_entry["strip"] = 1;
    cmake_entry["keep"] = {"bin/"};
    ServeToolchain({cmake_entry, ToolEntry("git", git)});

    // The administrative install, as it would unpack the SDK's headers from the cabinet beside
    // the installer.
    platform.extract_msi = [](const std::filesystem::path& package,
                              const std::filesystem::path& target, std::string& error) {
      if (ReadFile(package.parent_path() / kCab) != "the cabinet") {
        error = "the cabinet is not beside the installer";
        return false;
      }
      WriteFile(target / "Windows Kits" / "10" / "Include" / kSdkVersion / "ucrt" / "corecrt.h",
                "corecrt");
      return true;
    };

    game.title = "Halvorn";
    game.exes = {"Halvorn"};
    game.xbes = {"default.xbe"};
    game.repo = "https://example.invalid/halvorn.git";
    game.branch = "main";
    game.toolchain = server.Url("/toolchain.json");
    ChooseGameCopy();
  }

  // The toolchain's git: the stand-in, with more files when given.
  std::string GitZip(const std::string& name, std::vector<ZipEntry> more) {
    more.insert(more.begin(), ZipEntry{"cmd/git" + platform.ExeSuffix(),
                                       ReadFile(TestProgram("fake_git")), false, true, 0755});
    return ZipBytes(name, more);
  }

  std::filesystem::path Record() const { return scratch / "cmake-runs.txt"; }

  // The stand-in cmake's runs: program, then arguments, one run a line.
  std::vector<std::string> CMakeRuns() const { return TextLines(ReadFile(Record())); }
  // The stand-in git's runs, which it records where it runs: in the root. A real git would
  // have failed to clone from example.invalid.
  std::vector<std::string> GitRuns() const { return TextLines(ReadFile(root / "git_calls.txt")); }

  // The stages of a whole build with this toolchain, in order.
  static std::vector<std::string> AllStages() {
    return {"build tools list", "tool cmake",        "tool git",
            "tool msvc",        "tool winsdk",       "game source",
            "game's xbe",       "configure (cmake)", "compile and link (cmake --build)",
            "install"};
  }

  std::unique_ptr<ScopedEnv> record_;
  Served cmake, git;
};

}  // namespace launcher::test
