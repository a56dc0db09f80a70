// Links already in the destination folder, made by someone other than the unpacker, are
// replaced, never written through: neither a link at a file's own path nor a folder link on its
// way may carry an entry outside the destination.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "platform/tar_xz.h"
#include "platform/zip.h"
#include "support/file_tree.h"
#include "support/links.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

struct Unpacker {
  const char* name;
  // Writes an archive of these files (in order) under `folder` and unpacks it into `dest`.
  std::function<bool(const fs::path& folder, const Files& files, const fs::path& dest,
                     std::string& error)>
      unpack;

  friend void PrintTo(const Unpacker& unpacker, std::ostream* out) { *out << unpacker.name; }
};

bool UnpackZip(const fs::path& folder, const Files& files, const fs::path& dest,
               std::string& error) {
  std::vector<test::ZipEntry> entries;
  for (const auto& [name, data] : files) entries.push_back({name, data});
  test::WriteZip(folder / "in.zip", entries);
  return ExtractZip(folder / "in.zip", dest, {}, {}, nullptr, error);
}

bool UnpackTarXz(const fs::path& folder, const Files& files, const fs::path& dest,
                 std::string& error) {
  test::TarWriter tar;
  for (const auto& [name, data] : files) tar.File(name, data);
  test::WriteFile(folder / "in.tar.xz", test::XzCompress(tar.Finish()));
  return ExtractTarXz(folder / "in.tar.xz", dest, {}, {}, nullptr, error);
}

class ArchiveLinksTest : public ::testing::TestWithParam<Unpacker> {
 protected:
  void SetUp() override {
    test::WriteFile(outside_ / "secret.txt", "outside");
    fs::create_directories(dest_ / "real");
  }

  // Makes the link or skips the test, saying why.
  bool Link(const fs::path& link, const fs::path& target, bool folder) {
    std::string why;
    if (test::MakeLink(link, target, folder, why)) {
      EXPECT_TRUE(test::IsLink(link)) << "the link made is not seen as one";
      return true;
    }
    skip_reason_ = "the system makes no link here: " + why;
    return false;
  }

  test::ScratchDir scratch_;
  fs::path outside_ = scratch_ / "outside";
  fs::path dest_ = scratch_ / "dest";
  std::string skip_reason_;
};

TEST_P(ArchiveLinksTest, ALinkAtAFilesPathIsReplaced) {
  if (!Link(dest_ / "secret.txt", outside_ / "secret.txt", false)) GTEST_SKIP() << skip_reason_;
  if (!Link(dest_ / "real" / "deep.txt", outside_ / "secret.txt", false)) {
    GTEST_SKIP() << skip_reason_;
  }
  std::string error;
  ASSERT_TRUE(GetParam().unpack(scratch_.path(),
                                {{"secret.txt", "from the archive"}, {"real/deep.txt", "deep"}},
                                dest_, error))
      << error;
  EXPECT_EQ(test::FilesUnder(dest_),
            (Files{{"real/deep.txt", "deep"}, {"secret.txt", "from the archive"}}));
  EXPECT_FALSE(test::IsLink(dest_ / "secret.txt"));
  EXPECT_EQ(test::FilesUnder(outside_), (Files{{"secret.txt", "outside"}}));
}

TEST_P(ArchiveLinksTest, AFolderLinkOnTheWayIsReplaced) {
  if (!Link(dest_ / "sub", outside_, true)) GTEST_SKIP() << skip_reason_;
  if (!Link(dest_ / "real" / "inner", outside_, true)) GTEST_SKIP() << skip_reason_;
  std::string error;
  ASSERT_TRUE(GetParam().unpack(
      scratch_.path(),
      {{"real/inner/x.txt", "x"}, {"sub/secret.txt", "replaced?"}, {"sub/y/z.txt", "z"}}, dest_,
      error))
      << error;
  EXPECT_EQ(test::FilesUnder(dest_), (Files{{"real/inner/x.txt", "x"},
                                            {"sub/secret.txt", "replaced?"},
                                            {"sub/y/z.txt", "z"}}));
  EXPECT_FALSE(test::IsLink(dest_ / "sub"));
  EXPECT_FALSE(test::IsLink(dest_ / "real" / "inner"));
  EXPECT_EQ(test::FilesUnder(outside_), (Files{{"secret.txt", "outside"}}));
}

INSTANTIATE_TEST_SUITE_P(Unpackers, ArchiveLinksTest,
                         ::testing::Values(Unpacker{"Zip", UnpackZip},
                                           Unpacker{"TarXz", UnpackTarXz}),
                         [](const auto& info) { return std::string(info.param.name); });

// A tar link becomes a copy of a file written before; a link already at the copy's path is
// replaced like any other.
TEST(ArchiveLinks, ATarLinksCopyReplacesALinkAtItsPath) {
  test::ScratchDir scratch;
  test::WriteFile(scratch / "outside" / "secret.txt", "outside");
  fs::create_directories(scratch / "dest");
  std::string why;
  if (!test::MakeLink(scratch / "dest" / "copy", scratch / "outside" / "secret.txt", false, why)) {
    GTEST_SKIP() << "the system makes no link here: " << why;
  }
  test::TarWriter tar;
  tar.File("file", "from the archive");
  tar.Symlink("copy", "file");
  test::WriteFile(scratch / "in.tar.xz", test::XzCompress(tar.Finish()));
  std::string error;
  ASSERT_TRUE(ExtractTarXz(scratch / "in.tar.xz", scratch / "dest", {}, {}, nullptr, error))
      << error;
  EXPECT_EQ(test::FilesUnder(scratch / "dest"),
            (Files{{"copy", "from the archive"}, {"file", "from the archive"}}));
  EXPECT_FALSE(test::IsLink(scratch / "dest" / "copy"));
  EXPECT_EQ(test::ReadFile(scratch / "outside" / "secret.txt"), "outside");
}

}  // namespace
}  // namespace launcher
