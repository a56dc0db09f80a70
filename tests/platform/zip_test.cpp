#include "platform/zip.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zip.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::EntriesUnder;
using test::FilesUnder;
using test::ScratchDir;
using test::ZipEntry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::StartsWith;
using Progress = std::vector<std::pair<uint64_t, uint64_t>>;

TEST(IsSafeArchivePath, RefusesNamesThatCanLeaveTheFolder) {
  for (const char* name : {"", "../x", "a/../../x", "/x", "\\x", "C:x", "a\\..\\b", "..",
                           "a/..", "a/b:c", "x/..\\y"}) {
    EXPECT_FALSE(IsSafeArchivePath(name)) << name;
  }
  for (const char* name : {"a", "a/./b", "a..b", "a//b", "./a", "...", "a/.../b", "a\\b",
                           "..a", "b.."}) {
    EXPECT_TRUE(IsSafeArchivePath(name)) << name;
  }
}

TEST(ArchiveDestPath, JoinsTheNameAtEachSlash) {
  const fs::path dest = fs::path("root") / "dest";
  EXPECT_EQ(ArchiveDestPath(dest, "a/b/c.txt"), (dest / "a" / "b" / "c.txt").make_preferred());
  const std::string utf8 = "caf\xc3\xa9/\xe6\x97\xa5.txt";
  EXPECT_EQ(PathToUtf8(ArchiveDestPath(dest, utf8)),
            PathToUtf8((dest / fs::path(u8"caf\u00e9") / fs::path(u8"\u65e5.txt")).make_preferred()));
}

class ExtractZipTest : public ::testing::Test {
 protected:
  ScratchDir scratch_;
  fs::path zip_ = scratch_ / "in.zip";
  fs::path dest_ = scratch_ / "deep" / "dest";

  void Make(const std::vector<ZipEntry>& entries) { test::WriteZip(zip_, entries); }

  bool Extract(const NameMapper& mapper = {}, const std::atomic<bool>* cancel = nullptr) {
    progress_.clear();
    error_.clear();
    return ExtractZip(zip_, dest_, mapper,
                      [this](uint64_t done, uint64_t total) { progress_.emplace_back(done, total); },
                      cancel, error_);
  }

  Progress progress_;
  std::string error_;
};

TEST_F(ExtractZipTest, BackslashNamesLandInTheSameFoldersAsSlashNames) {
  Make({{"top\\sub\\a.txt", "A"}, {"top/sub/b.txt", "B", false, false}, {"c.txt", ""}});
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("c.txt", ""), Pair("top/sub/a.txt", "A"),
                                             Pair("top/sub/b.txt", "B")));
}

TEST_F(ExtractZipTest, FolderEntriesMakeNothingButFilesMakeTheirParents) {
  Make({{"empty", "", true},
        {"kept", "", true},
        {"kept/f.txt", "F"},
        {"win\\", ""},  // a folder entry written with a backslash
        {"deep\\er\\", ""}});
  std::vector<std::string> seen;
  ASSERT_TRUE(Extract([&](const std::string& name) {
    seen.push_back(name);
    return name;
  })) << error_;
  EXPECT_THAT(seen, ElementsAre("empty/", "kept/", "kept/f.txt", "win/", "deep/er/"));
  EXPECT_THAT(EntriesUnder(dest_), ElementsAre("kept/", "kept/f.txt"));
}

TEST_F(ExtractZipTest, WritesWhatTheMapperKeepsUnderTheMappedNames) {
  Make({{"pkg/bin/tool.exe", "tool"}, {"pkg/doc/readme", "doc"}, {"pkg/lib/x.dll", "x"}});
  ASSERT_TRUE(Extract([](const std::string& name) -> std::string {
    if (name == "pkg/doc/readme") return "";
    return name.substr(4);  // strip "pkg/"
  })) << error_;
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("bin/tool.exe", "tool"), Pair("lib/x.dll", "x")));
}

TEST_F(ExtractZipTest, ProgressCountsWrittenEntriesAgainstAllEntries) {
  Make({{"a", std::string(100, 'a')}, {"skip", std::string(200, 's')}, {"dir", "", true},
        {"c", std::string(300, 'c')}});
  ASSERT_TRUE(Extract([](const std::string& name) { return name == "skip" ? "" : name; }));
  EXPECT_THAT(progress_, ElementsAre(Pair(100, 600), Pair(400, 600)));

  ASSERT_TRUE(Extract());
  EXPECT_THAT(progress_, ElementsAre(Pair(100, 600), Pair(300, 600), Pair(600, 600)));
}

TEST_F(ExtractZipTest, AMapperThatKeepsNothingLeavesTheFolderAlone) {
  Make({{"a", "1"}, {"b/c", "2"}});
  ASSERT_TRUE(Extract([](const std::string&) { return std::string(); })) << error_;
  EXPECT_FALSE(fs::exists(dest_));
  EXPECT_THAT(progress_, IsEmpty());
}

TEST_F(ExtractZipTest, AnEmptyZipSucceedsWithoutProgress) {
  test::WriteFile(zip_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_THAT(progress_, IsEmpty());
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(ExtractZipTest, AFileThatIsNotAZipCannotBeOpened) {
  for (const std::string& content : {std::string("just some text, not an archive"),
                                     std::string(),  // an empty download is not an empty zip
                                     std::string("PK\x03\x04 broken", 12)}) {
    test::WriteFile(zip_, content);
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "cannot open " + PathToUtf8(zip_) + " as a zip");
  }
  fs::remove(zip_);
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "cannot open " + PathToUtf8(zip_) + " as a zip");
  EXPECT_FALSE(fs::exists(dest_));
}

// Every entry of these archives would land outside the destination under its mapped name;
// the unpack stops there, keeps what it wrote before, and writes nothing outside.
TEST_F(ExtractZipTest, AnUnsafeMappedNameStopsTheUnpack) {
  for (const char* bad : {"../x", "a/../../x", "/x", "\\x", "C:x", "a\\..\\b"}) {
    SCOPED_TRACE(bad);
    fs::remove_all(scratch_ / "deep");
    Make({{"first.txt", "1"}, {"tools/evil.txt", "evil"}, {"last.txt", "3"}});
    const std::string bad_name = bad;
    EXPECT_FALSE(Extract([&](const std::string& name) {
      return name == "tools/evil.txt" ? bad_name : name;
    }));
    EXPECT_EQ(error_, "unsafe path in " + PathToUtf8(zip_) + ": tools/evil.txt");
    EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("first.txt", "1")));
    EXPECT_THAT(EntriesUnder(scratch_.path()),
                ElementsAre("deep/", "deep/dest/", "deep/dest/first.txt", "in.zip"));
  }
}

TEST_F(ExtractZipTest, AnUnsafeEntryNameStopsTheIdentityUnpack) {
  Make({{"ok.txt", "1"}, {"..\\..\\escape.txt", "evil"}});
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "unsafe path in " + PathToUtf8(zip_) + ": ../../escape.txt");
  EXPECT_THAT(EntriesUnder(scratch_.path()),
              ElementsAre("deep/", "deep/dest/", "deep/dest/ok.txt", "in.zip"));
}

TEST_F(ExtractZipTest, DotComponentsAndDoubledDotsInANameAreSafe) {
  Make({{"one", "1"}, {"two", "2"}});
  ASSERT_TRUE(Extract([](const std::string& name) { return name == "one" ? "a/./b" : "a..b"; }))
      << error_;
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("a..b", "2"), Pair("a/b", "1")));
}

TEST_F(ExtractZipTest, ADamagedEntryCannotBeWritten) {
  for (const bool deflate : {true, false}) {
    SCOPED_TRACE(deflate ? "deflated" : "stored");
    fs::remove_all(dest_);
    Make({{"good.txt", "good"},
          {"sub/bad.bin", std::string(64 * 1024, 'x') + "the end", false, deflate}});
    test::DamageZipEntry(zip_, "sub/bad.bin");
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "cannot write " + PathToUtf8(ArchiveDestPath(dest_, "sub/bad.bin")) +
                          " from " + PathToUtf8(zip_) + " (the entry's data is damaged)");
    EXPECT_EQ(FilesUnder(dest_), (std::map<std::string, std::string>{{"good.txt", "good"}}));
    EXPECT_THAT(progress_, ElementsAre(Pair(4, 4 + 64 * 1024 + 7)));
  }
}

TEST_F(ExtractZipTest, AFileThatCannotBeWrittenStopsTheUnpackWithTheReason) {
  Make({{"a.txt", "A"}, {"taken", "T"}, {"z.txt", "Z"}});
  fs::create_directories(dest_ / "taken" / "folder");
  EXPECT_FALSE(Extract());
  EXPECT_THAT(error_, StartsWith("cannot write " + PathToUtf8(ArchiveDestPath(dest_, "taken")) +
                                 " from " + PathToUtf8(zip_) + " ("));
  EXPECT_EQ(error_.back(), ')');
  EXPECT_EQ(EntriesUnder(dest_), (std::set<std::string>{"a.txt", "taken/", "taken/folder/"}));
}

// Methods libzip cannot decode are named by number. Deflate64 (9) and PPMd (98) it never
// decodes; bzip2 (12), LZMA (14) and XZ (95) only where it is built with them.
TEST_F(ExtractZipTest, AnEntryInAMethodThatCannotBeReadIsNamedByItsMethod) {
  for (const uint16_t method : {9, 98, 12, 14, 95}) {
    if (zip_compression_method_supported(method, 0) != 0) continue;
    SCOPED_TRACE(method);
    fs::remove_all(dest_);
    Make({{"a.txt", "A"}, {"packed.bin", std::string(5000, 'p'), false, false}, {"z.txt", "Z"}});
    test::SetZipEntryMethod(zip_, "packed.bin", method);
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "cannot write " + PathToUtf8(ArchiveDestPath(dest_, "packed.bin")) +
                          " from " + PathToUtf8(zip_) + " (compression method " +
                          std::to_string(method) + " is not supported)");
    EXPECT_EQ(EntriesUnder(dest_), (std::set<std::string>{"a.txt"}));
  }
}

// Each file is written beside its name first; a name of the archive's own, or one left by an
// unpack that was ended, is never taken for that.
TEST_F(ExtractZipTest, TheTemporaryNeverTakesAnotherFile) {
  test::WriteFile(dest_ / "d" / ".launcher-unpack-1.tmp", "left by an ended unpack");
  Make({{"d/.launcher-unpack.tmp", "the archive's own"}, {"d/x", "x"}});
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_EQ(FilesUnder(dest_), (std::map<std::string, std::string>{
                                   {"d/.launcher-unpack-1.tmp", "left by an ended unpack"},
                                   {"d/.launcher-unpack.tmp", "the archive's own"},
                                   {"d/x", "x"}}));
}

TEST_F(ExtractZipTest, LargeEntriesStreamWholeAndReplaceExistingFiles) {
  std::string big;
  for (uint64_t i = 0; big.size() < 3 * 1024 * 1024 + 17; ++i) {
    big += std::to_string(i * 7919) + ",";
  }
  Make({{"deflated.bin", big}, {"stored.bin", big, false, false}});
  test::WriteFile(dest_ / "stored.bin", std::string(5 * 1024 * 1024, '!'));
  ASSERT_TRUE(Extract()) << error_;
  const auto files = FilesUnder(dest_);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files.at("deflated.bin") == big);
  EXPECT_TRUE(files.at("stored.bin") == big);
  EXPECT_THAT(progress_, ElementsAre(Pair(big.size(), 2 * big.size()),
                                     Pair(2 * big.size(), 2 * big.size())));
}

TEST_F(ExtractZipTest, NamesAndPathsBeyondAscii) {
  zip_ = scratch_ / fs::path(u8"caf\u00e9.zip");
  dest_ = scratch_ / fs::path(u8"\u65e5\u672c");
  Make({{"d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt", "euro"}});
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt", "euro")));
  EXPECT_FALSE(Extract([](const std::string&) { return "../x"; }));
  EXPECT_EQ(error_, "unsafe path in " + PathToUtf8(zip_) + ": d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt");
  EXPECT_THAT(PathToUtf8(zip_), ::testing::EndsWith("caf\xc3\xa9.zip"));
}

TEST_F(ExtractZipTest, TheCancelFlagStopsBeforeTheNextEntry) {
  Make({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(Extract({}, &cancel));
  EXPECT_EQ(error_, kCancelled);
  EXPECT_FALSE(fs::exists(dest_));

  cancel = false;
  error_.clear();
  const bool ok = ExtractZip(zip_, dest_, {}, [&](uint64_t, uint64_t) { cancel = true; }, &cancel,
                             error_);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error_, kCancelled);
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("a", "1")));
}

}  // namespace
}  // namespace launcher
