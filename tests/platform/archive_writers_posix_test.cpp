// Tar archives made at run time by real writers (GNU tar in its gnu and pax formats, bsdtar,
// Python's tarfile, pixz as the xz layer) unpack to the files they were made of; the same
// archives cut inside an entry fail, and sparse files as GNU tar and bsdtar write them are
// refused. A writer that is not installed is passed over and named.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/tar_xz.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/tar_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::ScratchDir;
using Files = std::map<std::string, std::string>;

struct Writer {
  const char* name;
  const char* program;  // what must be installed
  // Writes out.tar from the listed members, run in the source folder; $LIST holds the members.
  const char* tar;
  // Compresses $IN to $OUT.
  const char* compress;
};

const Writer kWriters[] = {
    {"GNU tar, gnu format", "tar", "tar --format=gnu --no-recursion -cf ../out.tar $LIST",
     "xz -T1 -c $IN > $OUT"},
    {"GNU tar, pax format", "tar", "tar --format=posix --no-recursion -cf ../out.tar $LIST",
     "xz -T1 -c $IN > $OUT"},
    {"bsdtar", "bsdtar", "bsdtar -n -cf ../out.tar $LIST", "xz -T1 -c $IN > $OUT"},
    {"Python tarfile, GNU format", "python3",
     "python3 -c 'import sys, tarfile\n"
     "with tarfile.open(\"../out.tar\", \"w\", format=tarfile.GNU_FORMAT) as t:\n"
     "    [t.add(m, recursive=False) for m in sys.argv[1:]]' $LIST",
     "xz -T1 -c $IN > $OUT"},
    {"Python tarfile, pax format", "python3",
     "python3 -c 'import sys, tarfile\n"
     "with tarfile.open(\"../out.tar\", \"w\", format=tarfile.PAX_FORMAT) as t:\n"
     "    [t.add(m, recursive=False) for m in sys.argv[1:]]' $LIST",
     "xz -T1 -c $IN > $OUT"},
    // pixz writes many blocks and its own index after the tar data; -t for the cut archives,
    // which it would not index.
    {"pixz", "pixz", "tar --format=gnu --no-recursion -cf ../out.tar $LIST",
     "if [ $IN = out.tar ]; then pixz < $IN > $OUT; else pixz -t < $IN > $OUT; fi"},
};

class TarWritersTest : public ::testing::Test {
 protected:
  // Runs `command` in the scratch folder (in `folder` below it when given), with the members'
  // list in $LIST; false with its output in `log_` when it fails.
  bool Run(const std::string& command, const std::string& folder = "") {
    const fs::path log = scratch_ / "shell.log";
    const std::string line = "cd '" + PathToUtf8(scratch_ / folder) + "' && LC_ALL=C.UTF-8 LIST='" +
                             list_ + "' sh -c '" + Quoted(command) + "' >'" + PathToUtf8(log) +
                             "' 2>&1";
    const bool ok = std::system(line.c_str()) == 0;
    log_ = test::ReadFile(log);
    return ok;
  }

  bool Compress(const Writer& writer, const std::string& in, const std::string& out) {
    std::string command = writer.compress;
    Replace(command, "$IN", in);
    Replace(command, "$OUT", out);
    return Run(command);
  }

  bool Unpack(const std::string& archive, const fs::path& dest) {
    error_.clear();
    fs::remove_all(dest);
    return ExtractTarXz(scratch_ / archive, dest, {}, {}, nullptr, error_);
  }

  void Member(const std::string& name) { list_ += (list_.empty() ? "" : " ") + name; }

  void File(const std::string& name, const std::string& data) {
    test::WriteFile(scratch_ / "src" / name, data);
    Member(name);
  }

  std::string Path(const std::string& archive) const { return PathToUtf8(scratch_ / archive); }

  // Whether the writer's program is installed; one that is not is named in `missing_`.
  bool Present(const Writer& writer) {
    const std::string program = writer.program;
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0) return true;
    missing_ += (missing_.empty() ? "" : ", ") + program;
    return false;
  }

  ScratchDir scratch_;
  std::string missing_;
  std::string list_;
  std::string log_;
  std::string error_;

 private:
  static std::string Quoted(const std::string& text) {
    std::string quoted;
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted;
  }
  static void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
      text.replace(at, from.size(), to);
      at += to.size();
    }
  }
};

// Each writer's archive, whole, gives the files; cut inside an entry's data, the unpack fails,
// as GNU tar does ("Unexpected EOF in archive"), and the cut file is not left.
TEST_F(TarWritersTest, RealArchivesUnpackWholeAndFailCut) {
  const std::string tool = test::SampleBytes(3000, 1);
  const std::string big = test::SampleBytes(300 * 1024, 2);
  const std::string deep = "pkg/" + std::string(60, 'd') + "/" + std::string(60, 'e');
  const std::string long_name = "pkg/" + std::string(150, 'n');
  fs::create_directories(scratch_ / "src" / deep);
  Member("pkg");
  Member("pkg/bin");
  File("pkg/bin/tool", tool);
  fs::create_symlink("tool", scratch_ / "src" / "pkg" / "bin" / "link");
  Member("pkg/bin/link");
  fs::create_hard_link(scratch_ / "src" / "pkg" / "bin" / "tool",
                       scratch_ / "src" / "pkg" / "hard");
  Member("pkg/hard");
  File("pkg/empty", "");
  File("pkg/block", std::string(512, 'b'));
  Member(deep.substr(0, 64));
  Member(deep);
  File(deep + "/deep.txt", "deep");
  File(long_name, "long name");
  File("pkg/caf\xc3\xa9.txt", "utf-8");
  File("pkg/big.bin", big);
  const Files want = {{"pkg/bin/tool", tool},
                      {"pkg/bin/link", tool},
                      {"pkg/hard", tool},
                      {"pkg/empty", ""},
                      {"pkg/block", std::string(512, 'b')},
                      {deep + "/deep.txt", "deep"},
                      {long_name, "long name"},
                      {"pkg/caf\xc3\xa9.txt", "utf-8"},
                      {"pkg/big.bin", big}};

  for (const Writer& writer : kWriters) {
    SCOPED_TRACE(writer.name);
    if (!Present(writer)) continue;
    ASSERT_TRUE(Run(writer.tar, "src")) << log_;
    ASSERT_TRUE(Compress(writer, "out.tar", "out.tar.xz")) << log_;
    ASSERT_TRUE(Unpack("out.tar.xz", scratch_ / "dest")) << error_;
    EXPECT_TRUE(test::FilesUnder(scratch_ / "dest") == want);

    const std::string tar = test::ReadFile(scratch_ / "out.tar");
    const size_t data = tar.find(big.substr(0, 64));
    ASSERT_NE(data, std::string::npos);
    test::WriteFile(scratch_ / "cut.tar", tar.substr(0, data + 1000));
    EXPECT_FALSE(Run("tar -tf cut.tar")) << "GNU tar reads the cut archive as whole";
    ASSERT_TRUE(Compress(writer, "cut.tar", "cut.tar.xz")) << log_;
    EXPECT_FALSE(Unpack("cut.tar.xz", scratch_ / "dest"));
    EXPECT_EQ(error_, "the tar data ends early: " + Path("cut.tar.xz"));
    Files cut_want = want;
    cut_want.erase("pkg/big.bin");
    EXPECT_TRUE(test::FilesUnder(scratch_ / "dest") == cut_want);
    EXPECT_EQ(test::EntriesUnder(scratch_ / "dest").count("pkg/big.bin"), 0u);
  }
  if (!missing_.empty()) GTEST_SKIP() << "not installed: " << missing_;
}

// GNU tar with -S in each of its sparse forms, and bsdtar, which writes the holes of a file it
// reads as pax 1.0: each is refused by the file's real name.
TEST_F(TarWritersTest, SparseFilesOfRealWritersAreRefused) {
  test::WriteFile(scratch_ / "src" / "pkg" / "first", "1");
  const fs::path sparse = scratch_ / "src" / "pkg" / "sp";
  test::WriteFile(sparse, "");
  fs::resize_file(sparse, 1 << 20);
  {
    const std::string middle = "data in the middle";
    std::FILE* file = std::fopen(sparse.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 500000, SEEK_SET);
    std::fwrite(middle.data(), 1, middle.size(), file);
    std::fclose(file);
  }
  Member("pkg");
  Member("pkg/first");
  Member("pkg/sp");
  const Writer writers[] = {
      {"GNU tar, old GNU", "tar", "tar -S --format=gnu --no-recursion -cf ../out.tar $LIST", ""},
      {"GNU tar, pax 0.0", "tar",
       "tar -S --format=posix --sparse-version=0.0 --no-recursion -cf ../out.tar $LIST", ""},
      {"GNU tar, pax 0.1", "tar",
       "tar -S --format=posix --sparse-version=0.1 --no-recursion -cf ../out.tar $LIST", ""},
      {"GNU tar, pax 1.0", "tar",
       "tar -S --format=posix --sparse-version=1.0 --no-recursion -cf ../out.tar $LIST", ""},
      {"bsdtar", "bsdtar", "bsdtar -n -cf ../out.tar $LIST", ""},
  };
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.name);
    if (!Present(writer)) continue;
    ASSERT_TRUE(Run(writer.tar, "src")) << log_;
    const std::string tar = test::ReadFile(scratch_ / "out.tar");
    if (tar.find("GNU.sparse") == std::string::npos && tar[1536 + 156] != 'S') {
      GTEST_SKIP() << writer.name << " wrote no sparse entry: this file system keeps no holes";
    }
    ASSERT_TRUE(Run("xz -T1 -c out.tar > out.tar.xz")) << log_;
    EXPECT_FALSE(Unpack("out.tar.xz", scratch_ / "dest"));
    EXPECT_EQ(error_, "cannot unpack the sparse file pkg/sp from " + Path("out.tar.xz"));
    EXPECT_EQ(test::EntriesUnder(scratch_ / "dest"), (std::set<std::string>{"pkg/", "pkg/first"}));
  }
  if (!missing_.empty()) GTEST_SKIP() << "not installed: " << missing_;
}

}  // namespace
}  // namespace launcher
