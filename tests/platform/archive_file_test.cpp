// The sentence of a write that failed on a full disk: the system's words and the launcher's hint
// say it once between them.
#include <gtest/gtest.h>

#include <string>

#include "platform/archive_file.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace {

TEST(DiskFullHint, OnlyWhereTheSystemsWordsDoNotSayItAlready) {
  const struct {
    const char* words;
    bool hinted;
  } cases[] = {
      {"Disk full.", false},                              // Wine
      {"There is not enough space on the disk.", false},  // Windows
      {"The disk is full.", false},
      {"No space left on device", false},  // Linux, for the data and for the table of files
      {"", true},                          // a system without words for it
      {"Input/output error", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiskFullHint(c.words), c.hinted ? " (is the drive full?)" : "") << c.words;
  }
}

TEST(DiskFullHint, TheSystemsOwnCodesForAFullDiskReadOnce) {
  int codes = 0;
  for (uint32_t code = 1; code < 300; ++code) {
    if (!IsDiskFullError(code)) continue;
    ++codes;
    const std::string words = SystemErrorWords(code);
    const std::string sentence = FormatSystemError("cannot write x", code, words) +
                                 DiskFullHint(words);
    // Either the system's words or the hint, never both.
    EXPECT_NE(words.empty(), DiskFullHint(words).empty()) << sentence;
  }
  EXPECT_GT(codes, 0) << "no error code of this system counts as a full disk";
}

}  // namespace
}  // namespace launcher
