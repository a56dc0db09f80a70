// What the unpackers do with POSIX file modes, and the reasons they give when a file cannot be
// written: a size limit, a full disk, a full table of files, a name too long for the system.
// In each case no file cut short is left, under its name or as a temporary.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "builder/tmpfs_mount.h"
#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/tar_xz.h"
#include "platform/zip.h"
#include "support/file_tree.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::EntriesUnder;
using test::ScratchDir;
using test::TmpfsMount;
using Entries = std::set<std::string>;

// The system's words say the drive is full: no hint repeats it.
constexpr const char* kDiskFull = " (28: No space left on device)";

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

TEST(ArchiveModes, EntriesMarkedExecutableAreWrittenExecutable) {
  ScratchDir scratch;
  const mode_t mask = ::umask(022);
  test::WriteZip(scratch / "a.zip", {{"bin/tool", "#!/bin/sh\n", false, true, 0755},
                                     {"doc.txt", "text", false, true, 0644},
                                     {"plain", "no mode"}});
  // An existing file that was not executable becomes so when an executable entry replaces it.
  test::WriteFile(scratch / "zip" / "bin" / "tool", "old");
  std::string error;
  ASSERT_TRUE(ExtractZip(scratch / "a.zip", scratch / "zip", {}, {}, nullptr, error)) << error;
  EXPECT_EQ(ModeOf(scratch / "zip" / "bin" / "tool"), 0755u);
  EXPECT_EQ(ModeOf(scratch / "zip" / "doc.txt"), 0644u);
  EXPECT_EQ(ModeOf(scratch / "zip" / "plain"), 0644u);

  test::TarWriter tar;
  tar.File("bin/clang", "elf", 0755);
  tar.File("lib/x.so", "so", 0700);
  tar.File("include/x.h", "h", 0644);
  tar.Symlink("bin/clang++", "clang");  // a copy keeps its target's mode
  test::WriteFile(scratch / "a.tar.xz", test::XzCompress(tar.Finish()));
  ASSERT_TRUE(ExtractTarXz(scratch / "a.tar.xz", scratch / "tar", {}, {}, nullptr, error))
      << error;
  EXPECT_EQ(ModeOf(scratch / "tar" / "bin" / "clang"), 0755u);
  EXPECT_EQ(ModeOf(scratch / "tar" / "bin" / "clang++"), 0755u);
  EXPECT_EQ(ModeOf(scratch / "tar" / "lib" / "x.so"), 0755u);
  EXPECT_EQ(ModeOf(scratch / "tar" / "include" / "x.h"), 0644u);
  ::umask(mask);
}

// Below a file size limit the system refuses the bytes beyond it (EFBIG), as a full disk refuses
// them (ENOSPC). The limit is the process's own, lowered for one test and put back after it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);  // the failed write returns an error instead of ending the test
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
};

// An unpack must not report a silently truncated file as written, nor put it in the place of the
// file that was there.
TEST(ArchiveWrites, AWriteThatFailsPartWayIsAnErrorAndLeavesTheOldFile) {
  ScratchDir scratch;
  const std::string data(300 * 1024, 'x');
  test::WriteZip(scratch / "a.zip", {{"ok.txt", "ok"}, {"full.bin", data}});
  test::TarWriter tar;
  tar.File("ok.txt", "ok");
  tar.File("full.bin", data);
  tar.File("after.txt", "after");
  test::WriteFile(scratch / "a.tar.xz", test::XzCompress(tar.Finish()));
  test::TarWriter empty;
  empty.File("full.bin", "");
  test::WriteFile(scratch / "b.tar.xz", test::XzCompress(empty.Finish()));
  test::WriteFile(scratch / "zip" / "full.bin", "old");
  test::WriteFile(scratch / "tar" / "full.bin", "old");

  const FileSizeLimit limit(100 * 1024);
  std::string error;
  EXPECT_FALSE(ExtractZip(scratch / "a.zip", scratch / "zip", {}, {}, nullptr, error));
  EXPECT_EQ(error, "cannot write " + PathToUtf8(scratch / "zip" / "full.bin") + " from " +
                       PathToUtf8(scratch / "a.zip") + " (27: File too large)");
  EXPECT_EQ(test::ReadFile(scratch / "zip" / "full.bin"), "old");
  EXPECT_EQ(EntriesUnder(scratch / "zip"), (Entries{"full.bin", "ok.txt"}));

  error.clear();
  EXPECT_FALSE(ExtractTarXz(scratch / "a.tar.xz", scratch / "tar", {}, {}, nullptr, error));
  EXPECT_EQ(error,
            "cannot write " + PathToUtf8(scratch / "tar" / "full.bin") + " (27: File too large)");
  EXPECT_EQ(test::ReadFile(scratch / "tar" / "full.bin"), "old");
  EXPECT_EQ(EntriesUnder(scratch / "tar"), (Entries{"full.bin", "ok.txt"}));

  // The same with an empty entry: nothing to write, so nothing fails.
  EXPECT_TRUE(ExtractTarXz(scratch / "b.tar.xz", scratch / "tar", {}, {}, nullptr, error))
      << error;
  EXPECT_EQ(test::ReadFile(scratch / "tar" / "full.bin"), "");
}

// The archives sit beside the small disk, the unpacks go into it.
class ArchiveDiskTest : public ::testing::Test {
 protected:
  bool Zip(const std::vector<test::ZipEntry>& entries) {
    test::WriteZip(scratch_ / "in.zip", entries);
    error_.clear();
    return ExtractZip(scratch_ / "in.zip", dest_, {}, {}, nullptr, error_);
  }
  bool Tar(const test::TarWriter& tar) {
    test::WriteFile(scratch_ / "in.tar.xz", test::XzCompress(tar.Finish()));
    error_.clear();
    return ExtractTarXz(scratch_ / "in.tar.xz", dest_, {}, {}, nullptr, error_);
  }
  std::string Out(const std::string& name) const {
    return PathToUtf8(ArchiveDestPath(dest_, name));
  }
  std::string FromZip() const { return " from " + PathToUtf8(scratch_ / "in.zip"); }

  ScratchDir scratch_;
  fs::path dest_ = scratch_ / "disk" / "dest";
  std::string error_;
};

// A file that does not fit, written in one piece (its data all in hand) or through a temporary
// (its data in several pieces), leaves nothing of itself.
TEST_F(ArchiveDiskTest, AFullDiskSaysSo) {
  TmpfsMount disk(scratch_ / "disk", 1u << 20);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  const std::string small = test::SampleBytes(100 * 1024, 1);
  for (const size_t size : {size_t{950} << 10, size_t{5} << 20}) {
    SCOPED_TRACE(size);
    const std::string big = test::SampleBytes(size, 2);
    fs::remove_all(dest_);
    EXPECT_FALSE(Zip({{"small", small}, {"big", big}}));
    EXPECT_EQ(error_, "cannot write " + Out("big") + FromZip() + kDiskFull);
    EXPECT_EQ(EntriesUnder(dest_), (Entries{"small"}));

    fs::remove_all(dest_);
    test::TarWriter tar;
    tar.File("small", small);
    tar.File("big", big);
    EXPECT_FALSE(Tar(tar));
    EXPECT_EQ(error_, "cannot write " + Out("big") + kDiskFull);
    EXPECT_EQ(EntriesUnder(dest_), (Entries{"small"}));
  }

  // A link's copy that does not fit fails as a file does.
  fs::remove_all(dest_);
  test::TarWriter link;
  link.File("half", test::SampleBytes(600 * 1024, 3));
  link.Symlink("copy", "half");
  EXPECT_FALSE(Tar(link));
  EXPECT_EQ(error_, "cannot write " + Out("copy") + kDiskFull);
  EXPECT_EQ(EntriesUnder(dest_), (Entries{"half"}));
}

// A disk with room for bytes but not for another file says the same.
TEST_F(ArchiveDiskTest, AFullTableOfFilesSaysTheDiskIsFull) {
  TmpfsMount disk(scratch_ / "disk", 16u << 20, "nr_inodes=16");
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  std::vector<test::ZipEntry> entries;
  test::TarWriter tar;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f/" + std::to_string(i);
    entries.push_back({name, name});
    tar.File(name, name);
  }
  for (const bool zip : {true, false}) {
    SCOPED_TRACE(zip ? "zip" : "tar.xz");
    fs::remove_all(dest_);
    EXPECT_FALSE(zip ? Zip(entries) : Tar(tar));
    EXPECT_THAT(error_, ::testing::StartsWith("cannot write " + Out("f/")));
    EXPECT_THAT(error_, ::testing::EndsWith(std::string(zip ? FromZip() : "") + kDiskFull));
    const auto files = test::FilesUnder(dest_);
    EXPECT_GE(files.size(), 5u);
    EXPECT_LT(files.size(), 40u);
    for (const auto& [name, data] : files) EXPECT_EQ(name, data);  // each whole, none a temporary
  }
}

// The temporary's name is short, so the file's own name is what the system refuses.
TEST_F(ArchiveDiskTest, ANameTooLongForTheSystemSaysSo) {
  const std::string name = "d/" + std::string(300, 'n');
  EXPECT_FALSE(Zip({{"first", "1"}, {name, "long"}}));
  EXPECT_EQ(error_, "cannot write " + Out(name) + FromZip() + " (36: File name too long)");
  EXPECT_EQ(EntriesUnder(dest_), (Entries{"d/", "first"}));
  fs::remove_all(dest_);

  test::TarWriter tar;
  tar.File("first", "1");
  tar.LongName(name);
  tar.File("ignored", "long");
  EXPECT_FALSE(Tar(tar));
  EXPECT_EQ(error_, "cannot write " + Out(name) + " (36: File name too long)");
  EXPECT_EQ(EntriesUnder(dest_), (Entries{"d/", "first"}));
}

}  // namespace
}  // namespace launcher
