#include "platform/tar_xz.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/tar_reader.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/tar_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::EntriesUnder;
using test::FilesUnder;
using test::SampleBytes;
using test::ScratchDir;
using test::TarHeader;
using test::TarSize;
using test::TarWriter;
using test::XzCompress;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::StartsWith;
using Files = std::map<std::string, std::string>;

TEST(NormalizeSlashPath, DropsEmptyAndDotPartsAndResolvesDotDot) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bin/clang.exe", "bin/clang.exe"}, {"/bin//./x/", "bin/x"},   {"bin/../lib/x", "lib/x"},
      {"bin/../bin/x", "bin/x"},          {"../x", "x"},             {"a/../../b", "b"},
      {"a/b/../../..", ""},               {"./", ""},                {"", ""},
      {"a..b/..c", "a..b/..c"},           {"bin/../../etc/passwd", "etc/passwd"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeSlashPath(in), out) << in;
}

class ExtractTarXzTest : public ::testing::Test {
 protected:
  ScratchDir scratch_;
  fs::path archive_ = scratch_ / "in.tar.xz";
  fs::path dest_ = scratch_ / "deep" / "dest";

  void Write(const std::string& tar, uint64_t block_size = 0) {
    test::WriteFile(archive_, XzCompress(tar, block_size));
  }

  bool Extract(const NameMapper& mapper = {}, const std::atomic<bool>* cancel = nullptr) {
    progress_.clear();
    error_.clear();
    return ExtractTarXz(archive_, dest_, mapper,
                        [this](uint64_t done, uint64_t total) { progress_.emplace_back(done, total); },
                        cancel, error_);
  }

  bool Unpack(const std::string& tar, const NameMapper& mapper = {}) {
    Write(tar);
    return Extract(mapper);
  }

  std::string Path() const { return PathToUtf8(archive_); }

  std::vector<std::pair<uint64_t, uint64_t>> progress_;
  std::string error_;
};

TEST_F(ExtractTarXzTest, WritesFilesUnderTheirNamesAndThePrefix) {
  TarWriter tar;
  tar.Folder("top/");
  tar.File("top/a.txt", "A");
  tar.File("top/empty", "");
  tar.File("top/sub/b.bin", std::string(1000, 'b'));
  TarHeader with_prefix;
  with_prefix.prefix = "a/b";
  with_prefix.name = "c.h";
  tar.Add(with_prefix, "header");
  TarHeader contiguous;
  contiguous.name = "seven";
  contiguous.type = '7';
  tar.Add(contiguous, "7");
  TarHeader old_style;  // no "ustar" magic: the prefix field is not a prefix
  old_style.ustar = false;
  old_style.type = '\0';
  old_style.name = "old.txt";
  tar.Add(old_style, "old");
  tar.Folder("made/nothing/");
  TarHeader old_folder;  // old writers marked a folder by its name alone
  old_folder.ustar = false;
  old_folder.type = '\0';
  old_folder.name = "old-folder/";
  tar.Add(old_folder, "");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_THAT(FilesUnder(dest_),
              ElementsAre(Pair("a/b/c.h", "header"), Pair("old.txt", "old"), Pair("seven", "7"),
                          Pair("top/a.txt", "A"), Pair("top/empty", ""),
                          Pair("top/sub/b.bin", std::string(1000, 'b'))));
  EXPECT_FALSE(fs::exists(dest_ / "made"));
  EXPECT_FALSE(fs::exists(dest_ / "old-folder"));
}

TEST_F(ExtractTarXzTest, TheMapperChoosesNamesAndReplacesExistingFiles) {
  TarWriter tar;
  tar.File("llvm/bin/clang.exe", "clang");
  tar.File("llvm/share/doc.html", "doc");
  tar.File("llvm/lib/x.lib", "x");
  test::WriteFile(dest_ / "bin" / "clang.exe", std::string(100000, 'o'));
  std::vector<std::string> seen;
  ASSERT_TRUE(Unpack(tar.Finish(), [&](const std::string& name) -> std::string {
    seen.push_back(name);
    if (name.find("/share/") != std::string::npos) return "";
    return name.substr(5);
  })) << error_;
  EXPECT_THAT(seen, ElementsAre("llvm/bin/clang.exe", "llvm/share/doc.html", "llvm/lib/x.lib"));
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair("bin/clang.exe", "clang"), Pair("lib/x.lib", "x")));
}

TEST_F(ExtractTarXzTest, LongNamesFromGnuAndPaxHeaders) {
  const std::string long_dir = std::string(90, 'd') + "/" + std::string(90, 'e');
  const std::string gnu = long_dir + "/gnu.txt";
  const std::string pax = long_dir + "/pax-" + std::string(120, 'p') + ".txt";
  TarWriter tar;
  tar.LongName(gnu);
  tar.File("truncated-gnu", "G");
  tar.Pax({{"mtime", "1700000000.5"}, {"path", pax}, {"size", "1"}});
  tar.File("truncated-pax", "P");
  // Both present: the pax path wins, whichever of the two comes first.
  tar.LongName("long-name-loses-1");
  tar.Pax({{"path", "pax-wins-1"}});
  tar.File("x1", "1");
  tar.Pax({{"path", "pax-wins-2"}});
  tar.LongName("long-name-loses-2");
  tar.File("x2", "2");
  // A global header changes nothing.
  tar.Pax({{"path", "global-is-ignored"}}, 'g');
  tar.File("plain", "plain");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_THAT(FilesUnder(dest_), ElementsAre(Pair(gnu, "G"), Pair(pax, "P"), Pair("pax-wins-1", "1"),
                                             Pair("pax-wins-2", "2"), Pair("plain", "plain")));
}

TEST_F(ExtractTarXzTest, EverySizeEncodingReadsTheSame) {
  const std::string data = SampleBytes(1000, 1);  // 1750 in octal
  TarWriter tar;
  const std::vector<std::pair<std::string, TarSize>> styles = {
      {"octal", TarSize::kOctal},
      {"leading-spaces", TarSize::kLeadingSpaces},
      {"space-ended", TarSize::kSpaceEnded},
      {"base-256", TarSize::kBase256}};
  for (const auto& [name, style] : styles) {
    TarHeader header;
    header.name = name;
    header.size_style = style;
    tar.Add(header, data);
  }
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"base-256", data},
                                      {"leading-spaces", data},
                                      {"octal", data},
                                      {"space-ended", data}}));
}

// Tar writers end with two zero blocks and pad the last record with more; without that end the
// data may still stop between two entries, where nothing is lost.
TEST_F(ExtractTarXzTest, TheTarDataEndsAtItsMarkerOrBetweenEntries) {
  TarWriter tar;
  tar.File("a", "A");
  tar.ZeroBlocks(1);  // a zero block between entries is passed over too
  tar.File("b", std::string(512, 'B'));
  const std::vector<std::pair<std::string, std::string>> endings = {
      {"two zero blocks", tar.Finish()},
      {"record padding", tar.Finish() + std::string(18 * 512, '\0')},
      {"no end", tar.bytes()},
      {"a lone zero block", tar.bytes() + std::string(512, '\0')},
      {"zero bytes short of a block", tar.bytes() + std::string(100, '\0')},
  };
  for (const auto& [ending, stream] : endings) {
    SCOPED_TRACE(ending);
    fs::remove_all(dest_);
    ASSERT_TRUE(Unpack(stream)) << error_;
    EXPECT_EQ(FilesUnder(dest_), (Files{{"a", "A"}, {"b", std::string(512, 'B')}}));
  }
}

// A cut stream compressed whole: the xz data ends well, the tar data does not. Whatever was
// being written when it ended is not left behind, and the cut is an error wherever it falls.
TEST_F(ExtractTarXzTest, ATarCutInsideAnEntryFailsThoughItsXzIsWhole) {
  const std::string long_name = "long/" + std::string(120, 'n');
  TarWriter tar;
  tar.File("whole", "W");                     // 0: header, 512: data
  tar.LongName(long_name);                    // 1024: header, 1536: the name
  tar.File("short", std::string(2000, 'c'));  // 2048: header, 2560: data, 4560: padding
  tar.Pax({{"path", "pax/name"}});            // 4608: header, 5120: records
  tar.File("after", "A");                     // 5632: header
  const std::string stream = tar.Finish();
  const std::set<std::string> first = {"whole"};
  const std::set<std::string> second = {"long/", "long/" + std::string(120, 'n'), "whole"};
  const struct {
    const char* where;
    size_t cut;
    std::set<std::string> left;
  } cases[] = {
      {"inside a header", 1024 + 100, first},
      {"inside a long name", 1536 + 60, first},
      {"after a long name, before its entry", 2048, first},
      {"inside a file's data", 2560 + 700, {"long/", "whole"}},
      {"inside a file's padding", 4560 + 8, second},
      {"inside pax records", 5120 + 5, second},
      {"after pax records, before their entry", 5632, second},
      {"one byte into the next header", 5632 + 1, second},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    fs::remove_all(dest_);
    EXPECT_FALSE(Unpack(stream.substr(0, c.cut)));
    EXPECT_EQ(error_, "the tar data ends early: " + Path());
    EXPECT_EQ(EntriesUnder(dest_), c.left);
  }
  // The same cut in an entry the mapper leaves out: the archive is still not whole.
  EXPECT_FALSE(Unpack(stream.substr(0, 2560 + 700),
                      [&](const std::string& name) { return name == long_name ? "" : name; }));
  EXPECT_EQ(error_, "the tar data ends early: " + Path());
}

// GNU tar writes a sparse file as its map and the pieces that are not holes: an old GNU 'S'
// entry, or pax records of the sparse formats 0.0, 0.1 and 1.0 (the last two under a
// "GNUSparseFile.<pid>/" name). Written as they stand these would be wrong files; they are
// refused, by their real name.
TEST_F(ExtractTarXzTest, SparseFilesAreRefused) {
  const struct {
    const char* form;
    std::vector<std::pair<std::string, std::string>> records;
    std::string header_name;
    char type;
  } cases[] = {
      {"old GNU", {}, "bin/sp", 'S'},
      {"pax 0.0",
       {{"GNU.sparse.size", "1048576"},
        {"GNU.sparse.numblocks", "1"},
        {"GNU.sparse.offset", "499712"},
        {"GNU.sparse.numbytes", "1024"}},
       "bin/sp",
       '0'},
      {"pax 0.1",
       {{"GNU.sparse.size", "1048576"},
        {"GNU.sparse.numblocks", "1"},
        {"GNU.sparse.name", "bin/sp"},
        {"GNU.sparse.map", "499712,1024"}},
       "./GNUSparseFile.17222/sp",
       '0'},
      {"pax 1.0",
       {{"GNU.sparse.major", "1"},
        {"GNU.sparse.minor", "0"},
        {"GNU.sparse.name", "bin/sp"},
        {"GNU.sparse.realsize", "1048576"}},
       "./GNUSparseFile.17344/sp",
       '0'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    fs::remove_all(dest_);
    TarWriter tar;
    tar.File("bin/first", "1");
    if (!c.records.empty()) tar.Pax(c.records);
    TarHeader header;
    header.name = c.header_name;
    header.type = c.type;
    tar.Add(header, std::string(1024, 's'));
    tar.File("bin/last", "3");
    EXPECT_FALSE(Unpack(tar.Finish()));
    EXPECT_EQ(error_, "cannot unpack the sparse file bin/sp from " + Path());
    EXPECT_EQ(EntriesUnder(dest_), (std::set<std::string>{"bin/", "bin/first"}));
  }
}

// Two zero blocks end the archive: what some writers put after them (an index of their own,
// here made of entries) is not unpacked. A lone zero block between entries is passed over
// (above), and the xz data after the end is still checked.
TEST_F(ExtractTarXzTest, NothingAfterTheEndMarkerIsWritten) {
  TarWriter tar;
  tar.File("a", "A");
  TarWriter index;
  index.File("junk/index.txt", "offsets");
  index.File("a", "overwritten");
  const std::string stream = tar.Finish() + index.Finish();
  ASSERT_TRUE(Unpack(stream)) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"a", "A"}}));

  const std::string xz = XzCompress(stream);
  test::WriteFile(archive_, xz.substr(0, xz.size() - 1));
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "the xz file ends early: " + Path());
}

// Parallel compressors and `cat a.xz b.xz` write one xz stream after another, with stream
// padding between them; xz and tar read them all.
TEST_F(ExtractTarXzTest, EveryXzStreamOfTheFileIsRead) {
  TarWriter tar;
  tar.File("first", SampleBytes(3000, 1));
  tar.File("split", SampleBytes(5000, 2));
  tar.File("last", SampleBytes(700, 3));
  const std::string stream = tar.Finish();
  const size_t cut = 512 + 3072 + 512 + 1000;  // inside the data of "split"
  const std::string xz = XzCompress(stream.substr(0, cut / 2)) +
                         XzCompress(stream.substr(cut / 2, cut - cut / 2)) +
                         std::string(8, '\0') + XzCompress(stream.substr(cut));
  test::WriteFile(archive_, xz);
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"first", SampleBytes(3000, 1)},
                                      {"last", SampleBytes(700, 3)},
                                      {"split", SampleBytes(5000, 2)}}));
  EXPECT_EQ(progress_.back(), std::make_pair(uint64_t{xz.size()}, uint64_t{xz.size()}));

  // Padding that is no multiple of four bytes, and a damaged second stream, are errors.
  test::WriteFile(archive_, XzCompress(stream) + std::string(3, '\0'));
  EXPECT_FALSE(Extract());
  EXPECT_THAT(error_, StartsWith("the xz data is damaged ("));
  std::string damaged = XzCompress(stream) + XzCompress(stream);
  damaged[damaged.size() - 40] ^= 0x21;
  test::WriteFile(archive_, damaged);
  EXPECT_FALSE(Extract());
  EXPECT_THAT(error_, StartsWith("the xz data is damaged ("));
}

// A pax "size" record gives the entry's length where the header's field cannot hold it (files
// over 8 GiB; writers then put 0 there).
TEST_F(ExtractTarXzTest, APaxSizeGivesTheDataLength) {
  const std::string data = SampleBytes(1300, 5);
  TarHeader header;
  header.name = "big.bin";
  header.size = 0;
  TarWriter tar;
  tar.Pax({{"size", std::to_string(data.size())}});
  tar.Add(header, data);
  tar.Pax({{"size", "12x"}});  // not a number: the header's size holds
  tar.File("plain", "P");
  tar.File("after", "after");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"after", "after"}, {"big.bin", data}, {"plain", "P"}}));

  // Beyond 8 GiB: the rest of this short stream is the entry's data, no entry follows, and the
  // entry itself is cut short.
  TarWriter huge;
  huge.Pax({{"size", "8589934593"}});
  huge.Add(header, data);
  huge.File("not-an-entry", "inside the data");
  fs::remove_all(dest_);
  EXPECT_FALSE(Unpack(huge.Finish()));
  EXPECT_EQ(error_, "the tar data ends early: " + Path());
  EXPECT_THAT(EntriesUnder(dest_), IsEmpty());
}

TEST_F(ExtractTarXzTest, LinksBecomeCopiesOfFilesWrittenBefore) {
  const std::string long_target = std::string(120, 't') + "/target.dll";
  const std::string long_link = std::string(120, 'l') + "/link.dll";
  TarWriter tar;
  tar.File("bin/clang.exe", "clang");
  tar.Symlink("bin/clang++.exe", "clang.exe");
  tar.File("bin/x", "x");
  tar.Symlink("lib/y", "../bin/x");
  tar.HardLink("tools/cl.exe", "bin/clang.exe");
  tar.HardLink("tools/again.exe", "bin/clang++.exe");  // a link to a link copy
  tar.Symlink("lib/z", "./y");
  // GNU tar writes 'K', then 'L', then the link that takes both.
  tar.File(long_target.substr(0, 99), "not this one");
  tar.LongName(long_target);
  tar.File("ignored", "long target");
  tar.LongLinkName(long_target);
  tar.LongName(long_link);
  tar.HardLink("ignored-link", long_target.substr(0, 99));
  tar.Pax({{"path", "pax/link"}, {"linkpath", "../bin/x"}});
  tar.Symlink("ignored-too", "nothing");
  // Names written with "./", as "tar -C folder ." does.
  tar.File("./dot/real", "real");
  tar.Symlink("./dot/sym", "real");
  tar.HardLink("./dot/hard", "./dot/real");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"bin/clang.exe", "clang"},
                                      {"bin/clang++.exe", "clang"},
                                      {"bin/x", "x"},
                                      {"lib/y", "x"},
                                      {"lib/z", "x"},
                                      {"tools/cl.exe", "clang"},
                                      {"tools/again.exe", "clang"},
                                      {long_target.substr(0, 99), "not this one"},
                                      {long_target, "long target"},
                                      {long_link, "long target"},
                                      {"pax/link", "x"},
                                      {"dot/real", "real"},
                                      {"dot/sym", "real"},
                                      {"dot/hard", "real"}}));
  for (const std::string& entry : EntriesUnder(dest_)) EXPECT_NE(entry.back(), '@') << entry;
}

TEST_F(ExtractTarXzTest, LinksThatCannotBeResolvedCreateNothing) {
  test::WriteFile(scratch_ / "secret.txt", "outside");
  test::WriteFile(scratch_ / "deep" / "secret.txt", "outside");
  TarWriter tar;
  tar.Symlink("early", "later");  // its target comes later
  tar.File("later", "L");
  tar.File("skipped", "S");
  tar.HardLink("to-skipped", "skipped");  // its target was left out by the mapper
  tar.Symlink("to-nothing", "never/there");
  tar.Folder("folder/");
  tar.Symlink("to-folder", "folder");
  // Targets that climb out of the destination reach only what this archive wrote.
  tar.Symlink("a/leak1", "../../secret.txt");
  tar.HardLink("leak2", "../secret.txt");
  tar.Symlink("leak3", "/etc/hostname");
  tar.HardLink("leak4", "/etc/hostname");
  tar.Symlink("b/leak5", "../../../deep/secret.txt");
  // Links whose own mapped names are unsafe are passed over without an error.
  tar.Symlink("unsafe1", "later");
  tar.HardLink("unsafe2", "later");
  tar.File("last", "end");
  const std::map<std::string, std::string> renames = {{"skipped", ""},
                                                      {"unsafe1", "../escaped1"},
                                                      {"unsafe2", "/tmp/escaped2"}};
  ASSERT_TRUE(Unpack(tar.Finish(), [&](const std::string& name) {
    const auto found = renames.find(name);
    return found == renames.end() ? name : found->second;
  })) << error_;
  EXPECT_EQ(EntriesUnder(dest_), (std::set<std::string>{"last", "later"}));
  EXPECT_THAT(EntriesUnder(scratch_.path()),
              ElementsAre("deep/", "deep/dest/", "deep/dest/last", "deep/dest/later",
                          "deep/secret.txt", "in.tar.xz", "secret.txt"));
  EXPECT_FALSE(fs::exists("/tmp/escaped2"));
}

TEST_F(ExtractTarXzTest, AClimbingLinkCopiesOnlyTheArchivesOwnFile) {
  test::WriteFile(scratch_ / "deep" / "secret.txt", "outside");
  TarWriter tar;
  tar.File("secret.txt", "inside");
  tar.Symlink("a/b/link", "../../../secret.txt");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"a/b/link", "inside"}, {"secret.txt", "inside"}}));
  EXPECT_EQ(test::ReadFile(scratch_ / "deep" / "secret.txt"), "outside");
}

TEST_F(ExtractTarXzTest, AnUnsafeFileNameStopsTheUnpack) {
  for (const char* bad : {"../x", "a/../../x", "/x", "\\x", "C:x", "a\\..\\b"}) {
    SCOPED_TRACE(bad);
    fs::remove_all(scratch_ / "deep");
    TarWriter tar;
    tar.File("first", "1");
    tar.File("tools/evil", "evil");
    tar.File("last", "3");
    const std::string bad_name = bad;
    EXPECT_FALSE(Unpack(tar.Finish(), [&](const std::string& name) {
      return name == "tools/evil" ? bad_name : name;
    }));
    EXPECT_EQ(error_, "unsafe path in the archive: tools/evil");
    EXPECT_THAT(EntriesUnder(scratch_.path()),
                ElementsAre("deep/", "deep/dest/", "deep/dest/first", "in.tar.xz"));
  }
  // With the identity mapper, the entry's own name is checked.
  fs::remove_all(scratch_ / "deep");
  TarWriter tar;
  tar.LongName("../../outside");
  tar.File("inside", "evil");
  EXPECT_FALSE(Unpack(tar.Finish()));
  EXPECT_EQ(error_, "unsafe path in the archive: ../../outside");
  EXPECT_THAT(EntriesUnder(scratch_.path()), ElementsAre("in.tar.xz"));
}

// The system's reason follows the path: here a folder stands where the file should go, or a file
// where its folder should.
TEST_F(ExtractTarXzTest, AFileThatCannotBeWrittenStopsTheUnpackWithTheReason) {
  fs::create_directories(dest_ / "taken" / "folder");
  test::WriteFile(dest_ / "plain", "P");
  for (const std::string name : {"taken", "plain/below"}) {
    SCOPED_TRACE(name);
    TarWriter tar;
    tar.File(name, "T");
    tar.File("after", "A");
    EXPECT_FALSE(Unpack(tar.Finish()));
    EXPECT_THAT(error_,
                StartsWith("cannot write " + PathToUtf8(ArchiveDestPath(dest_, name)) + " ("));
    EXPECT_EQ(error_.back(), ')');
    EXPECT_EQ(EntriesUnder(dest_), (std::set<std::string>{"plain", "taken/", "taken/folder/"}));
  }
}

// Each file is written beside its name first; a name of the archive's own, or one left by an
// unpack that was ended, is never taken for that.
TEST_F(ExtractTarXzTest, TheTemporaryNeverTakesAnotherFile) {
  test::WriteFile(dest_ / "d" / ".launcher-unpack-1.tmp", "left by an ended unpack");
  TarWriter tar;
  tar.File("d/.launcher-unpack.tmp", "the archive's own");
  tar.File("d/x", "x");
  tar.Symlink("d/y", "x");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"d/.launcher-unpack-1.tmp", "left by an ended unpack"},
                                      {"d/.launcher-unpack.tmp", "the archive's own"},
                                      {"d/x", "x"},
                                      {"d/y", "x"}}));
}

TEST_F(ExtractTarXzTest, AMissingArchiveCannotBeOpened) {
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "cannot open " + Path());
  EXPECT_THAT(progress_, IsEmpty());
}

TEST_F(ExtractTarXzTest, NamesAndPathsBeyondAscii) {
  archive_ = scratch_ / fs::path(u8"caf\u00e9.tar.xz");
  dest_ = scratch_ / fs::path(u8"\u65e5\u672c");
  TarWriter tar;
  tar.File("d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt", "euro");
  tar.Symlink("d\xc3\xa9j\xc3\xa0/copy", "\xe2\x82\xac.txt");
  ASSERT_TRUE(Unpack(tar.Finish())) << error_;
  EXPECT_EQ(FilesUnder(dest_), (Files{{"d\xc3\xa9j\xc3\xa0/copy", "euro"},
                                      {"d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt", "euro"}}));
  test::WriteFile(archive_, "this is plain text, not an xz stream");
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "the xz data is damaged (5) in " + Path());
  EXPECT_THAT(Path(), ::testing::EndsWith("caf\xc3\xa9.tar.xz"));
}

// Many files of varied content: several MiB decoded, more than one read of compressed data.
std::string ManyFiles(int count, size_t size, Files& files) {
  TarWriter tar;
  for (int i = 0; i < count; ++i) {
    const std::string name = "f/" + std::to_string(i) + ".bin";
    files[name] = SampleBytes(size + i, i);
    tar.File(name, files[name]);
  }
  return tar.Finish();
}

class ExtractTarXzBlocksTest : public ExtractTarXzTest,
                               public ::testing::WithParamInterface<uint64_t> {
 protected:
  // The archive is made once per block layout: compressing it is the slow part.
  void WriteMany() {
    struct Made {
      Files files;
      std::string xz;
    };
    static std::map<uint64_t, Made> made;
    Made& one = made[GetParam()];
    if (one.xz.empty()) one.xz = XzCompress(ManyFiles(48, 300 * 1024, one.files), GetParam(), 1);
    files_ = one.files;
    test::WriteFile(archive_, one.xz);
    size_ = one.xz.size();
  }

  void Damage(size_t at, char with) {
    std::string bytes = test::ReadFile(archive_);
    bytes[at] ^= with;
    test::WriteFile(archive_, bytes);
  }

  Files files_;
  uint64_t size_ = 0;
};

TEST_P(ExtractTarXzBlocksTest, WritesEveryFileAndProgressEndsAtTheSize) {
  WriteMany();
  ASSERT_GT(size_, 2u << 20) << "the archive should need several reads";
  ASSERT_TRUE(Extract()) << error_;
  EXPECT_TRUE(FilesUnder(dest_) == files_);
  ASSERT_GE(progress_.size(), 3u);
  EXPECT_EQ(progress_.back(), std::make_pair(size_, size_));
  EXPECT_EQ(progress_.front(), std::make_pair(uint64_t{1} << 20, size_));
  for (size_t i = 1; i < progress_.size(); ++i) {
    EXPECT_GE(progress_[i].first, progress_[i - 1].first);
    EXPECT_EQ(progress_[i].second, size_);
  }
}

// The mapper and the progress callback are the caller's code: they run on its thread, while
// the decoding runs ahead elsewhere.
TEST_P(ExtractTarXzBlocksTest, TheMapperAndProgressRunOnTheCallingThread) {
  WriteMany();
  const std::thread::id caller = std::this_thread::get_id();
  std::set<std::thread::id> threads;
  int mapped = 0;
  ASSERT_TRUE(ExtractTarXz(archive_, dest_,
                           [&](const std::string& name) {
                             threads.insert(std::this_thread::get_id());
                             ++mapped;
                             return name;
                           },
                           [&](uint64_t, uint64_t) { threads.insert(std::this_thread::get_id()); },
                           nullptr, error_))
      << error_;
  EXPECT_EQ(mapped, 48);
  EXPECT_EQ(threads, std::set<std::thread::id>{caller});
}

TEST_P(ExtractTarXzBlocksTest, ATruncatedFileEndsEarly) {
  WriteMany();
  const std::string whole = test::ReadFile(archive_);
  for (const size_t keep : {size_t{0}, size_t{1}, size_t{12}, size_t{3000}, whole.size() / 2,
                            whole.size() - 1}) {
    SCOPED_TRACE(keep);
    test::WriteFile(archive_, whole.substr(0, keep));
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "the xz file ends early: " + Path());
    EXPECT_EQ(progress_.back(), std::make_pair(uint64_t{keep}, uint64_t{keep}));
  }
}

TEST_P(ExtractTarXzBlocksTest, FlippedBytesAreDamagedData) {
  WriteMany();
  const std::string whole = test::ReadFile(archive_);
  const std::vector<std::pair<size_t, std::string>> cases = {
      {0, "5"},                  // the stream's magic bytes
      {7, "7"},                  // the stream flags: their checksum no longer matches
      {whole.size() / 2, "7"},   // compressed data
      {whole.size() - 30, "7"},  // the index
  };
  for (const auto& [at, number] : cases) {
    SCOPED_TRACE(at);
    test::WriteFile(archive_, whole);
    Damage(at, 0x21);
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "the xz data is damaged (" + number + ") in " + Path());
  }
}

TEST_P(ExtractTarXzBlocksTest, TheCancelFlagStopsBeforeTheNextDecoderCall) {
  WriteMany();
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(Extract({}, &cancel));
  EXPECT_EQ(error_, kCancelled);
  EXPECT_THAT(progress_, IsEmpty());
  EXPECT_FALSE(fs::exists(dest_));

  // Set after the first read: that read is decoded once (at most 4 MiB of its data is
  // written), and no other.
  cancel = false;
  error_.clear();
  int reads = 0;
  EXPECT_FALSE(ExtractTarXz(archive_, dest_, {},
                            [&](uint64_t, uint64_t) {
                              ++reads;
                              cancel = true;
                            },
                            &cancel, error_));
  EXPECT_EQ(error_, kCancelled);
  EXPECT_EQ(reads, 1);
  uint64_t written = 0;
  for (const auto& [name, data] : FilesUnder(dest_)) written += data.size();
  EXPECT_LE(written, uint64_t{4} << 20);
  EXPECT_FALSE(fs::exists(dest_ / "f" / "47.bin"));
}

// The reader's failure in an early chunk is what the unpack reports, not the decoder's on
// later data, although the decoder runs ahead of the reader.
TEST_P(ExtractTarXzBlocksTest, TheReadersErrorComesBeforeALaterDecoderError) {
  Files files;
  TarWriter tar;
  tar.File("../unsafe", "x");
  test::WriteFile(archive_, XzCompress(tar.bytes() + ManyFiles(48, 300 * 1024, files), GetParam(), 0));
  Damage(fs::file_size(archive_) - 5000, 0x10);
  EXPECT_FALSE(Extract());
  EXPECT_EQ(error_, "unsafe path in the archive: ../unsafe");
}

INSTANTIATE_TEST_SUITE_P(Blocks, ExtractTarXzBlocksTest,
                         ::testing::Values(uint64_t{0}, uint64_t{256} << 10),
                         [](const auto& info) {
                           return info.param == 0 ? std::string("OneBlock")
                                                  : std::string("ManyBlocks");
                         });

TEST_F(ExtractTarXzTest, DictionaryLimitOfOneGiB) {
  TarWriter tar;
  tar.File("a", "A");
  const std::string xz = XzCompress(tar.Finish());
  // 37: 1.5 GiB, 39: 3 GiB (memory limit); 41 is no dictionary size at all (options).
  for (const auto& [property, number] : {std::pair<uint8_t, int>{37, 4}, {39, 4}, {41, 6}}) {
    std::string patched = xz;
    ASSERT_TRUE(test::SetXzDictionary(patched, property));
    test::WriteFile(archive_, patched);
    EXPECT_FALSE(Extract());
    EXPECT_EQ(error_, "the xz data is damaged (" + std::to_string(number) + ") in " + Path());
  }
  // Exactly 1 GiB is allowed.
  std::string patched = xz;
  ASSERT_TRUE(test::SetXzDictionary(patched, 36));
  test::WriteFile(archive_, patched);
  EXPECT_TRUE(Extract()) << error_;
  EXPECT_EQ(test::ReadFile(dest_ / "a"), "A");
}

// The tar reader keeps its place from one piece of the stream to the next, whatever the
// pieces' sizes: headers, data, padding and meta texts cut anywhere.
TEST(TarReader, PiecesOfAnySizeReadTheSame) {
  TarWriter tar;
  tar.LongName(std::string(130, 'n') + "/long");
  tar.File("x", SampleBytes(700, 3));
  tar.Pax({{"path", "pax/name"}});
  tar.File("y", SampleBytes(1500, 4));
  tar.File("z", "");
  tar.Symlink("zz", "z");
  const std::string stream = tar.Finish();
  const Files want = {{std::string(130, 'n') + "/long", SampleBytes(700, 3)},
                      {"pax/name", SampleBytes(1500, 4)},
                      {"z", ""},
                      {"zz", ""}};
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{511}, size_t{512}, size_t{513},
                             stream.size()}) {
    SCOPED_TRACE(piece);
    ScratchDir dest;
    TarReader reader(dest.path(), {}, "stream.tar");
    std::string error;
    for (size_t at = 0; at < stream.size(); at += piece) {
      const size_t size = std::min(piece, stream.size() - at);
      ASSERT_TRUE(reader.Feed(reinterpret_cast<const uint8_t*>(stream.data()) + at, size, error))
          << error;
    }
    ASSERT_TRUE(reader.Finish(error)) << error;
    EXPECT_EQ(FilesUnder(dest.path()), want);
  }
}

TEST(TarReader, MalformedPaxRecordsAreLeftOut) {
  TarWriter tar;
  TarHeader pax;
  pax.type = 'x';
  pax.name = "pax";
  // A record whose length runs past the text stops the reading; the records before it count.
  tar.Add(pax, test::PaxRecord("path", "first") + "99 path=second\n");
  tar.File("a", "A");
  tar.Add(pax, "0 path=zero\n");  // a length of 0 stops the reading
  tar.File("b", "B");
  tar.Add(pax, "no-space-here");
  tar.File("c", "C");
  tar.Add(pax, test::PaxRecord("linkpath", "c") + test::PaxRecord("comment", "path=not"));
  tar.Symlink("d", "ignored");
  const std::string stream = tar.Finish();
  ScratchDir dest;
  TarReader reader(dest.path(), {}, "stream.tar");
  std::string error;
  ASSERT_TRUE(reader.Feed(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), error));
  EXPECT_EQ(FilesUnder(dest.path()), (Files{{"b", "B"}, {"c", "C"}, {"d", "C"}, {"first", "A"}}));
}

}  // namespace
}  // namespace launcher
