// Read retries and their log lines. The count of logged failures is process-wide, so this
// program has the failing reads to itself and checks them as one sequence; the log writer runs
// synchronously here, so each line is on standard error as soon as the read returns.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>

#include "platform/disc_image.h"
#include "support/disc_files.h"
#include "support/disc_image_writer.h"
#include "support/scratch.h"
#include "support/stderr_capture.h"

namespace launcher {
namespace {

[[maybe_unused]] const bool g_sync_log = (putenv(const_cast<char*>("XBE_LOG_SYNC=1")), true);

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
  return bytes;
}

int Count(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

std::string RetryLine(uint64_t offset, unsigned long error) {
  return "] disc: a read at " + std::to_string(offset) + " failed (host error " +
         std::to_string(error) + "), asked again\n";
}

std::string ShortLine(uint32_t done, uint32_t size, uint64_t offset, unsigned long error) {
  return "] error: disc: " + std::to_string(done) + " of " + std::to_string(size) +
         " bytes read at " + std::to_string(offset) + " after 5 retries (host error " +
         std::to_string(error) + "): the title gets a short read\n";
}

class DiscReadLog : public ::testing::Test {
 protected:
  void SetUp() override {
    test::DiscImageWriter writer;
    writer.AddFile("data.bin", Pattern(10000));
    ASSERT_TRUE(writer.WriteGamePartition(dir_ / "game.iso"));
    auto recording = std::make_unique<test::RecordingDiscFile>(
        OpenDiscFile((dir_ / "game.iso").wstring()));
    file_ = recording.get();
    std::string error;
    ASSERT_TRUE(OpenDiscImage(image_, std::move(recording), L"game.iso", error)) << error;
    data_ = FindDiscEntry(image_, "data.bin");
    ASSERT_NE(data_, nullptr);
    file_->clear();
  }

  // Every attempt fails with `error` after the first `good` ones, which pass (at most `partial`
  // bytes each, when not 0).
  void FailAfter(int good, uint32_t error, uint32_t partial = 0) {
    auto calls = std::make_shared<int>(0);
    test::RecordingDiscFile* file = file_;
    file_->set_fault([=](uint64_t offset, void* buffer, uint32_t size, DiscReadResult& result) {
      if ((*calls)++ < good) {
        result = file->inner().ReadAt(offset, buffer, partial ? std::min(size, partial) : size);
        return true;
      }
      result = {0, error};
      return true;
    });
  }

  test::ScratchDir dir_;
  DiscImage image_;
  test::RecordingDiscFile* file_ = nullptr;
  const DiscEntry* data_ = nullptr;
};

TEST_F(DiscReadLog, RetriesLogsAndTheProcessWideCap) {
  const uint64_t at = data_->offset;
  std::vector<uint8_t> bytes;

  {
    SCOPED_TRACE("a read that keeps failing");
    test::StderrCapture capture;
    FailAfter(0, 23);
    std::vector<char> buffer(4096);
    const auto start = Clock::now();
    EXPECT_EQ(ReadDisc(image_, at, buffer.data(), 4096), 0u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));  // 5 pauses of 50 ms
    EXPECT_EQ(file_->attempts().size(), 6u);
    const std::string text = capture.Text();
    EXPECT_EQ(Count(text, RetryLine(at, 23)), 5) << text;
    EXPECT_EQ(Count(text, ShortLine(0, 4096, at, 23)), 1) << text;
    EXPECT_EQ(Count(text, "\n"), 6) << text;
  }
  {
    SCOPED_TRACE("part of the file, then failures");  // 5 logged so far
    test::StderrCapture capture;
    file_->clear();
    FailAfter(1, 31, 1000);
    EXPECT_FALSE(ReadDiscFile(image_, "data.bin", bytes));
    ASSERT_EQ(bytes.size(), 10000u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 1000), Pattern(1000));
    const auto attempts = file_->attempts();
    ASSERT_EQ(attempts.size(), 6u);
    EXPECT_EQ(attempts[1].offset, at + 1000);  // the retry asks for the rest
    EXPECT_EQ(attempts[1].asked, 9000u);
    const std::string text = capture.Text();
    EXPECT_EQ(Count(text, RetryLine(at + 1000, 31)), 4) << text;
    EXPECT_EQ(Count(text, ShortLine(1000, 10000, at, 31)), 1) << text;
  }
  {
    SCOPED_TRACE("failures that pass");  // 9 logged so far
    test::StderrCapture capture;
    file_->clear();
    auto calls = std::make_shared<int>(0);
    test::RecordingDiscFile* file = file_;
    file_->set_fault([=](uint64_t offset, void* buffer, uint32_t size, DiscReadResult& result) {
      if ((*calls)++ < 2) {
        result = {0, 5};
      } else {
        result = file->inner().ReadAt(offset, buffer, size);
      }
      return true;
    });
    ASSERT_TRUE(ReadDiscFile(image_, "data.bin", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Pattern(10000));
    const std::string text = capture.Text();
    EXPECT_EQ(Count(text, RetryLine(at, 5)), 2) << text;
    EXPECT_EQ(Count(text, "error: "), 0) << text;
  }
  {
    SCOPED_TRACE("reads that only ever give a little");  // 11 logged so far
    test::StderrCapture capture;
    file_->clear();
    FailAfter(1000, 0, 1);
    char small[10] = {};
    EXPECT_EQ(ReadDisc(image_, at, small, 3), 3u);  // retried at once, no failure logged
    EXPECT_EQ(ReadDisc(image_, at, small, 10), 6u);  // six attempts of one byte
    EXPECT_EQ(std::string(small, 6), Pattern(6));
    const std::string text = capture.Text();
    EXPECT_EQ(Count(text, "asked again"), 0) << text;
    EXPECT_EQ(Count(text, ShortLine(6, 10, at, 0)), 1) << text;
  }
  {
    SCOPED_TRACE("at most 20 failures are logged in the process");  // 11 so far
    test::StderrCapture capture;
    FailAfter(0, 87);
    char buffer[16];
    EXPECT_EQ(ReadDisc(image_, at, buffer, 16), 0u);  // 16
    EXPECT_EQ(ReadDisc(image_, at, buffer, 16), 0u);  // 20: only 4 of its 5 logged
    std::string text = capture.Text();
    EXPECT_EQ(Count(text, RetryLine(at, 87)), 9) << text;
    EXPECT_EQ(Count(text, ShortLine(0, 16, at, 87)), 2) << text;

    EXPECT_EQ(ReadDisc(image_, at + 1, buffer, 16), 0u);
    text = capture.Text();
    EXPECT_EQ(Count(text, "asked again"), 9) << text;  // nothing more
    EXPECT_EQ(Count(text, ShortLine(0, 16, at + 1, 87)), 1) << text;  // still reported
  }
}

// The end of the file is not a failure: nothing is retried or logged.
TEST_F(DiscReadLog, ReadingAtTheEndIsNotAFailure) {
  test::StderrCapture capture;
  const uint64_t size = fs::file_size(dir_ / "game.iso");
  char buffer[4096];
  EXPECT_EQ(ReadDisc(image_, size, buffer, sizeof buffer), 0u);
  EXPECT_EQ(ReadDisc(image_, size + 100000, buffer, sizeof buffer), 0u);
  EXPECT_EQ(ReadDisc(image_, size - 100, buffer, sizeof buffer), 100u);
  EXPECT_EQ(file_->attempts().size(), 4u);  // one each, plus the end reached after the 100
  EXPECT_EQ(capture.Text(), "");
}

}  // namespace
}  // namespace launcher
