// Download on a small drive of its own (a tmpfs, which needs root; skipped elsewhere): a file that
// cannot fit is refused before a byte is fetched, counting only what the ".part" still lacks, and a
// write that fills the drive says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "builder/tmpfs_mount.h"
#include "platform/download.h"
#include "platform/platform.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1024 * 1024;

class SmallDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = std::make_unique<test::TmpfsMount>(folder_, 16 * kMiB);
    if (!disk_->ok()) GTEST_SKIP() << disk_->reason();
    server_.Serve("/package.zip", file_);
  }

  bool Run(uint64_t size) {
    return Download(*http_, server_.Url("/package.zip"), dest_, "", size, {}, nullptr, error_);
  }

  const std::string file_ = std::string(4 * kMiB, 'p');
  test::ScratchDir dir_;
  const fs::path folder_ = dir_ / "disk";
  const fs::path dest_ = folder_ / "package.zip";
  const fs::path part_ = folder_ / "package.zip.part";
  std::unique_ptr<test::TmpfsMount> disk_;
  test::HttpServer server_;
  std::unique_ptr<Http> http_ = CreateHttp();
  std::string error_;
};

TEST_F(SmallDriveTest, AFileThatCannotFitIsRefusedBeforeAnyRequest) {
  ASSERT_TRUE(test::FillLeaving(folder_, 2 * kMiB));
  const uint64_t free_bytes = test::FreeBytes(folder_);
  EXPECT_FALSE(Run(file_.size()));
  EXPECT_EQ(error_, "the download of package.zip needs 4 MB, " + FormatSize(free_bytes) +
                        " free on this drive");
  EXPECT_EQ(server_.TotalCount(), 0);
  EXPECT_FALSE(fs::exists(part_));
}

TEST_F(SmallDriveTest, OnlyWhatThePartStillLacksMustFit) {
  test::WriteFile(part_, file_.substr(0, 3 * kMiB));
  ASSERT_TRUE(test::FillLeaving(folder_, 2 * kMiB));
  ASSERT_TRUE(Run(file_.size())) << error_;
  EXPECT_EQ(test::ReadFile(dest_), file_);
  EXPECT_EQ(server_.Ranges("/package.zip"), std::vector<std::string>{"bytes=3145728-"});
}

TEST_F(SmallDriveTest, AWriteThatFillsTheDriveSaysSo) {
  // Without a size nothing can be checked beforehand: the write fails when the drive is full.
  ASSERT_TRUE(test::FillLeaving(folder_, 2 * kMiB));
  EXPECT_FALSE(Run(0));
  EXPECT_EQ(error_, "cannot write " + PathToUtf8(part_) + " (is the drive full?)");
  EXPECT_FALSE(fs::exists(dest_));
}

}  // namespace
}  // namespace launcher
