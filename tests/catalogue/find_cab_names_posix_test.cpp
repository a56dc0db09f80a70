// FindCabNames on a real Windows Installer package, made here with msitools' wixl (a Linux
// program, so this test runs on Linux only; the byte-level rules are tested on both systems).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/toolchain.h"
#include "support/scratch.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

// Four media, each naming an external cabinet: two of the SDK's form, one in capitals and one
// of another form, which are not found.
constexpr const char* kWxs = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Cab Test" Language="1033" Version="1.0.0" Manufacturer="Tests"
           UpgradeCode="4d6e1c0a-6c55-4d0c-9d67-0c6e3f1b2a11">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="fedcba9876543210fedcba9876543210.cab" EmbedCab="no"/>
    <Media Id="2" Cabinet="0123456789abcdef0123456789abcdef.cab" EmbedCab="no"/>
    <Media Id="3" Cabinet="Data3.cab" EmbedCab="no"/>
    <Media Id="4" Cabinet="ABCDEF0123456789ABCDEF0123456789.cab" EmbedCab="no"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="CabTest">
          <Component Id="A" Guid="0f5d3a7e-6f77-4b8e-9a31-3c2b2f0e9d01">
            <File Id="a.txt" Source="a.txt"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="A"/></Feature>
  </Product>
</Wix>
)";

TEST(FindCabNamesMsi, FindsTheExternalCabinetsOfARealPackage) {
  if (std::system("command -v wixl >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "wixl (Debian package wixl) is not installed";
  }
  test::ScratchDir dir;
  test::WriteFile(dir / "a.txt", "a");
  test::WriteFile(dir / "cabs.wxs", kWxs);
  const std::string command = "cd '" + dir.path().string() +
                              "' && wixl -o cabs.msi cabs.wxs >wixl.log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadFile(dir / "wixl.log");

  const std::string msi = test::ReadFile(dir / "cabs.msi");
  ASSERT_FALSE(msi.empty());
  EXPECT_EQ(FindCabNames(std::vector<uint8_t>(msi.begin(), msi.end())),
            (std::vector<std::string>{"0123456789abcdef0123456789abcdef.cab",
                                      "fedcba9876543210fedcba9876543210.cab"}));
}

}  // namespace
}  // namespace launcher
