// Installing a Windows SDK tool: Windows Installer packages made here with wixl and gcab (Linux
// programs, and Wine does no administrative installs, so this runs on Linux only).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "platform/progress.h"
#include "platform/sha.h"
#include "support/file_tree.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kNamedCab = "0123456789abcdef0123456789abcdef.cab";
constexpr const char* kUnnamedCab = "00000000000000000000000000000000.cab";

// A package installing one file under "Windows Kits/10", from the cabinet `cab` (inside the
// package when `cab` is empty).
std::string Wxs(const std::string& file, const std::string& cab, const std::string& guid_digit) {
  const std::string media = cab.empty()
                                ? R"(<Media Id="1" Cabinet="in.cab" EmbedCab="yes"/>)"
                                : R"(<Media Id="1" Cabinet=")" + cab + R"(" EmbedCab="no"/>)";
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Kit )" +
         file + R"(" Language="1033" Version="1.0.0" Manufacturer="Tests"
           UpgradeCode="4d6e1c0a-6c55-4d0c-9d67-0c6e3f1b2a1)" +
         guid_digit + R"(">
    <Package InstallerVersion="200" Compressed="yes"/>
    )" + media +
         R"(
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="KITS" Name="Windows Kits">
        <Directory Id="TEN" Name="10">
          <Component Id="C" Guid="0f5d3a7e-6f77-4b8e-9a31-3c2b2f0e9d0)" +
         guid_digit + R"(">
            <File Id=")" +
         file + R"(" Source=")" + file + R"(" Name=")" + file + R"("/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="C"/></Feature>
  </Product>
</Wix>
)";
}

class ToolsMsiTest : public BuilderTest {
 protected:
  void SetUp() override {
    if (std::system("command -v wixl >/dev/null 2>&1 && command -v gcab >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "wixl and gcab (Debian packages wixl, gcab) are needed";
    }
    MakeBuilder();
  }

  // Runs a shell command in the fixture folder; fails the test when it fails.
  void Shell(const std::string& command) {
    const std::string line = "cd '" + PathToUtf8(Fixtures()) + "' && " + command + " >out.log 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << ReadFile(Fixtures() / "out.log");
  }

  fs::path Fixtures() { return scratch / "fixtures"; }

  // Makes a package holding `file` (whose content is its name) and serves it.
  FileRef Package(const std::string& name, const std::string& file, const std::string& cab,
                  const std::string& guid_digit) {
    WriteFile(Fixtures() / file, file);
    WriteFile(Fixtures() / (name + ".wxs"), Wxs(file, cab, guid_digit));
    Shell("wixl -o '" + name + "' '" + name + ".wxs'");
    if (!cab.empty()) Shell("gcab -c -n '" + cab + "' '" + file + "'");
    return Serve(name);
  }

  FileRef Serve(const std::string& name) {
    const fs::path path = Fixtures() / name;
    server.ServeFile("/sdk/" + name, path);
    return FileRef{name, server.Url("/sdk/" + name), Sha256File(path), fs::file_size(path)};
  }

  Tool Sdk(std::vector<FileRef> files, std::vector<FileRef> cabs) {
    Tool tool;
    tool.id = "winsdk";
    tool.title = "Windows SDK";
    tool.kind = "msi";
    tool.sha256 = "Win11SDK_10.0.26100 a.msi";
    tool.files = std::move(files);
    tool.cabs = std::move(cabs);
    return tool;
  }

  HttpServer server;
  std::string err;
};

TEST_F(ToolsMsiTest, FetchesOnlyTheCabinetsThePackagesName) {
  // a.msi names one of the two listed cabinets; b.msi carries its files inside.
  const FileRef a = Package("a.msi", "a.txt", kNamedCab, "2");
  const FileRef b = Package("b.msi", "b.txt", "", "3");
  const FileRef named = Serve(kNamedCab);
  WriteFile(Fixtures() / kUnnamedCab, std::string(5 << 20, 'u'));
  const FileRef unnamed = Serve(kUnnamedCab);
  const Tool tool = Sdk({a, b}, {unnamed, named});

  ASSERT_TRUE(builder->InstallTool(tool, err)) << err;
  const fs::path folder = root / "tools" / "winsdk";
  EXPECT_EQ(FilesUnder(folder),
            (std::map<std::string, std::string>{{".launcher-stamp", tool.sha256},
                                                {"Windows Kits/10/a.txt", "a.txt"},
                                                {"Windows Kits/10/b.txt", "b.txt"}}));
  EXPECT_EQ(server.Count("/sdk/" + std::string(kNamedCab)), 1);
  EXPECT_EQ(server.Count("/sdk/" + std::string(kUnnamedCab)), 0);
  EXPECT_FALSE(fs::exists(root / "downloads" / "winsdk"));
  EXPECT_EQ(log,
            (std::vector<std::string>{"download " + a.url, "download " + b.url,
                                      "download " + named.url, "extract a.msi", "extract b.msi",
                                      "Windows SDK ready in " + PathToUtf8(folder)}));

  // The bar ends full: its total dropped to what was really fetched.
  double last_download = -2;
  std::vector<std::pair<std::string, double>> unpacking;
  for (const Status& status : statuses) {
    if (status.title == "Downloading Windows SDK") last_download = status.fraction;
    if (status.title == "Unpacking Windows SDK" && !status.detail.empty()) {
      unpacking.emplace_back(status.detail, status.fraction);
    }
  }
  EXPECT_DOUBLE_EQ(last_download, 1.0);
  EXPECT_EQ(unpacking,
            (std::vector<std::pair<std::string, double>>{{"a.msi", 0.0}, {"b.msi", 0.5}}));
}

TEST_F(ToolsMsiTest, AStopIsSeenAfterTheRunningExtraction) {
  const FileRef a = Package("a.msi", "a.txt", "", "2");
  const FileRef b = Package("b.msi", "b.txt", "", "3");
  on_log = [this](const std::string& line) {
    if (line == "extract a.msi") builder->cancel = true;
  };
  EXPECT_FALSE(builder->InstallTool(Sdk({a, b}, {}), err));
  EXPECT_EQ(err, kCancelled);
  EXPECT_TRUE(fs::exists(root / "tools" / "winsdk" / "Windows Kits" / "10" / "a.txt"));
  EXPECT_FALSE(Logged("extract b.msi"));
  EXPECT_FALSE(fs::exists(root / "tools" / "winsdk" / ".launcher-stamp"));
  EXPECT_TRUE(fs::exists(root / "downloads" / "winsdk" / "b.msi"));
}

TEST_F(ToolsMsiTest, APackageThatCannotBeExtractedFailsWithTheExtractorsError) {
  WriteFile(Fixtures() / "broken.msi", "not a package");
  EXPECT_FALSE(builder->InstallTool(Sdk({Serve("broken.msi")}, {}), err));
  EXPECT_TRUE(err.starts_with("Could not extract broken.msi (msiextract ")) << err;
}

}  // namespace
}  // namespace launcher::test
