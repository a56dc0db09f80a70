// The platform layer's text functions: UTF-8 and wide text, the shape of system error messages,
// and the messages and command lines of the Windows Installer and folder-link operations.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;

// Parts are compared whole, after the dots and a trailing separator are gone; the folders
// need not exist.
TEST(Text, APathIsWithinItselfAndTheFoldersAboveIt) {
  const fs::path base = fs::temp_directory_path() / "no such folder";
  const struct {
    fs::path inner;
    fs::path outer;
    bool within;
  } cases[] = {
      {base / "a" / "b", base / "a", true},
      {base / "a", base / "a", true},
      {base / "a" / "", base / "a", true},
      {base / "a", base / "a" / "", true},
      {base / "a" / "x" / ".." / "b", base / "a" / "b", true},
      {base / "a", base / "a" / "b", false},
      {base / "ab", base / "a", false},
      {base / "a" / ".." / "c", base / "a", false},
      {base / "b", base / "a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathIsWithin(c.inner, c.outer), c.within)
        << PathToUtf8(c.inner) << " in " << PathToUtf8(c.outer);
  }
  // A relative path is taken from the current folder.
  EXPECT_TRUE(PathIsWithin(fs::path("x"), fs::current_path()));
}

TEST(Text, Utf8AndWideTextConvertBothWays) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  // The wide literals are UTF-16 on Windows and UTF-32 elsewhere, as the functions produce.
  const Case cases[] = {
      {"", L""},
      {"plain ascii", L"plain ascii"},
      {"caf\xC3\xA9", L"caf\u00e9"},
      {"\xE2\x9C\x93 \xE2\x82\xAC", L"\u2713 \u20ac"},
      {"\xF0\x9F\x98\x80 beyond the BMP", L"\U0001F600 beyond the BMP"},
      {std::string("nul\0inside", 10), std::wstring(L"nul\0inside", 10)},
      {std::string("\0", 1), std::wstring(L"\0", 1)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8) << c.utf8;
  }
}

TEST(Text, InvalidSequencesBecomeTheReplacementCharacter) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFD" L"b");
  EXPECT_EQ(Utf8ToWide("a\x80" "b"), L"a\uFFFD" L"b");  // a lone continuation byte
  EXPECT_EQ(Utf8ToWide("\xC3"), L"\uFFFD");               // cut short at the end
  // Whatever the count of replacement characters, the text around them survives.
  for (const std::string bad : {"\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
    const std::wstring wide = Utf8ToWide("<" + bad + ">");
    ASSERT_GE(wide.size(), 3u);
    EXPECT_EQ(wide.front(), L'<');
    EXPECT_EQ(wide.back(), L'>');
    EXPECT_EQ(wide.find_first_not_of(L'\uFFFD', 1), wide.size() - 1);
  }
  // A lone surrogate is no character either.
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xD800)) + L"x"), "\xEF\xBF\xBDx");
}

TEST(Text, SystemErrorsReadTextCodeAndWords) {
  EXPECT_EQ(FormatSystemError("cannot open x", 2, "No such file"), "cannot open x (2: No such file)");
  EXPECT_EQ(FormatSystemError("cannot open x", 5, "Access is denied.\r\n"),
            "cannot open x (5: Access is denied.)");
  EXPECT_EQ(FormatSystemError("t", 3, "words \r\n \n"), "t (3: words)");
  EXPECT_EQ(FormatSystemError("t", 1234567, ""), "t (1234567)");
  EXPECT_EQ(FormatSystemError("t", 7, "\r\n "), "t (7)");
  EXPECT_EQ(FormatSystemError("t", 0x80070005u, "x"), "t (2147942405: x)");  // unsigned
}

TEST(Text, MsiLogLiesBesideTheTargetNamedAfterThePackage) {
  const fs::path tools = fs::path("root") / "tools";
  const fs::path msi = fs::path("downloads") / "Windows SDK Desktop Headers x64-x86_en-us.msi";
  const fs::path log = tools / "Windows SDK Desktop Headers x64-x86_en-us.msiexec.log";
  EXPECT_EQ(MsiLogPath(msi, tools / "winsdk"), log);
  // A separator at the end of the target does not put the log inside it.
  fs::path with_separator = tools / "winsdk";
  with_separator += fs::path::preferred_separator;
  EXPECT_EQ(MsiLogPath(msi, with_separator), log);
}

TEST(Text, MsiexecCommandLineDropsTheTargetsTrailingBackslashes) {
  EXPECT_EQ(MsiexecCommandLine(L"C:\\dl\\sdk headers.msi", L"C:\\root\\tools\\winsdk\\\\",
                               L"C:\\root\\tools\\sdk headers.msiexec.log"),
            L"msiexec.exe /a \"C:\\dl\\sdk headers.msi\" /qn /norestart "
            L"TARGETDIR=\"C:\\root\\tools\\winsdk\" /L*v \"C:\\root\\tools\\sdk headers.msiexec.log\"");
  EXPECT_EQ(MsiexecCommandLine(L"a.msi", L"C:\\t", L"a.log"),
            L"msiexec.exe /a \"a.msi\" /qn /norestart TARGETDIR=\"C:\\t\" /L*v \"a.log\"");
}

TEST(Text, FailureMessagesNameWhatFailed) {
  EXPECT_EQ(MsiExtractError(fs::path("dl") / "sdk.msi", "msiexec", 1603, fs::path("t") / "sdk.msiexec.log"),
            "Could not extract sdk.msi (msiexec 1603, see " +
                (fs::path("t") / "sdk.msiexec.log").string() + ")");
  EXPECT_EQ(MsiExtractError("sdk.msi", "msiexec", -1, "sdk.msiexec.log"),
            "Could not extract sdk.msi (msiexec -1, see sdk.msiexec.log)");
  EXPECT_EQ(LinkFolderError("Cannot create a file when that file already exists.\n"),
            "Could not link the game's folder: Cannot create a file when that file already exists.\n");
}

}  // namespace
}  // namespace launcher
