#include "catalogue/file_names.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace launcher {
namespace {

TEST(FileNames, PlainFileNames) {
  const std::pair<std::string, bool> cases[] = {
      {"vs_Setup.exe", true},
      {"a b.cab", true},
      {"..a", true},
      {"\xc3\xa9t\xc3\xa9.msi", true},
      {"", false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a\\b", false},
      {"C:x.cab", false},
      {"/x", false},
      {"x\n", false},
      {std::string("a\0b", 3), false},
  };
  for (const auto& [name, plain] : cases) EXPECT_EQ(IsPlainFileName(name), plain) << name;
}

TEST(FileNames, PercentDecode) {
  const std::pair<std::string, std::string> cases[] = {
      {"a%20b", "a b"},
      {"%2541", "%41"},  // decoded once
      {"a%2", "a%2"},
      {"a%", "a%"},
      {"a%zz", "a%zz"},
      {"%4a%4A", "JJ"},
      {"%%41", "%A"},
      {"%2B", "+"},
      {"%00x", std::string("\0x", 2)},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(PercentDecode(text), expected) << text;
}

}  // namespace
}  // namespace launcher
