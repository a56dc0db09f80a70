// What the unpackers do with POSIX file modes, and a write that fails once the file is open.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <gtest/gtest.h>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/tar_xz.h"
#include "platform/zip.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using test::ScratchDir;

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

// An unpack must not report a silently truncated file as written.
TEST(ArchiveWrites, AWriteThatFailsPartWayIsAnError) {
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

  const FileSizeLimit limit(100 * 1024);
  std::string error;
  EXPECT_FALSE(ExtractZip(scratch / "a.zip", scratch / "zip", {}, {}, nullptr, error));
  EXPECT_EQ(error, "cannot write " + PathToUtf8(scratch / "zip" / "full.bin") + " from " +
                       PathToUtf8(scratch / "a.zip"));

  error.clear();
  EXPECT_FALSE(ExtractTarXz(scratch / "a.tar.xz", scratch / "tar", {}, {}, nullptr, error));
  EXPECT_EQ(error, "cannot write " + PathToUtf8(scratch / "tar" / "full.bin"));
  EXPECT_FALSE(fs::exists(scratch / "tar" / "after.txt"));

  // The same with an empty entry: nothing to write, so nothing fails.
  EXPECT_TRUE(ExtractTarXz(scratch / "b.tar.xz", scratch / "tar", {}, {}, nullptr, error))
      << error;
}

}  // namespace
}  // namespace launcher
