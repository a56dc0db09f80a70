#include "platform/msi_file_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace launcher {
namespace {
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

const std::string kColumns =
    "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence";
const std::string kTypes = "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4";
const std::string kKeys = "File\tFile";

TEST(ParseMsiFileTable, GivesTheLongNameOfEveryRow) {
  std::vector<std::string> names;
  ASSERT_TRUE(ParseMsiFileTable(
      {kColumns, kTypes, kKeys, "hello.txt\tFiles\thello.txt\t23\t\t\t512\t1",
       "fil1A2B\tFiles\tREADME~1.TXT|Read me first.txt\t5\t\t\t512\t2"},
      names));
  EXPECT_THAT(names, ElementsAre("hello.txt", "Read me first.txt"));

  // A table without rows is a package without files.
  ASSERT_TRUE(ParseMsiFileTable({kColumns, kTypes, kKeys}, names));
  EXPECT_TRUE(names.empty());
}

TEST(ParseMsiFileTable, OutputThatIsNoFileTableIsRefused) {
  const std::vector<Lines> cases = {
      {},
      {kColumns, kTypes},
      {"File\tComponent_\tName", kTypes, kKeys, "a\tb\tc"},           // no FileName column
      {kColumns, kTypes, kKeys, "hello.txt\tFiles"},                    // a row cut short
      {"msiinfo: error opening database", "(no such file)", "x"},
  };
  for (const Lines& lines : cases) {
    std::vector<std::string> names;
    EXPECT_FALSE(ParseMsiFileTable(lines, names)) << (lines.empty() ? "" : lines[0]);
  }
}

}  // namespace
}  // namespace launcher
