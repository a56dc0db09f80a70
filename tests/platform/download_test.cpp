// FetchText and Download: their own logic against a scripted Http, and the wire (resuming,
// redirects, a server that misbehaves) against the system's client and the tests' server.
#include "platform/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"
#include "support/scratch.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using test::HttpServer;
using test::ReadFile;
using test::Reply;
using test::Sha256Of;
using test::ScratchDir;
using test::WriteFile;

constexpr uint64_t kPiece = 64 * 1024;

std::string Pattern(size_t size, int seed = 0) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 9) + seed);
  return bytes;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

fs::path PartOf(const fs::path& dest) {
  fs::path part = dest;
  part += ".part";
  return part;
}

// An Http that serves one resource from memory and follows a script, one step per call; once
// the script is spent every call serves the resource from the offset on.
class FakeHttp : public Http {
 public:
  struct Step {
    std::string body;              // what this call serves ("" for the resource itself)
    uint64_t deliver = UINT64_MAX;  // bytes handed on before the call ends
    bool fail = false;             // end with `error` after delivering
    std::string error = "the download stopped (fake)";
    bool tell_total = true;        // store the total
  };

  explicit FakeHttp(std::string resource) : resource_(std::move(resource)) {}

  void Then(Step step) { script_.push_back(std::move(step)); }
  void FailAlways(std::string error) { fail_always_ = std::move(error); }

  bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
           std::string& error, const std::atomic<bool>*) override {
    urls.push_back(url);
    offsets.push_back(offset);
    Step step;
    if (!script_.empty()) {
      step = std::move(script_.front());
      script_.pop_front();
    } else if (fail_always_) {
      step.fail = true;
      step.deliver = 0;
      step.error = *fail_always_;
    }
    const std::string& body = step.body.empty() ? resource_ : step.body;
    if (total && step.tell_total) *total = body.size();
    std::string rest = offset < body.size() ? body.substr(offset) : "";
    if (rest.size() > step.deliver) rest.resize(step.deliver);
    for (size_t at = 0; at < rest.size(); at += kPiece) {
      const std::string piece = rest.substr(at, kPiece);
      if (!sink(reinterpret_cast<const uint8_t*>(piece.data()), piece.size())) {
        error = "stopped";
        return false;
      }
    }
    if (step.fail) {
      error = step.error;
      return false;
    }
    return true;
  }

  std::vector<std::string> urls;
  std::vector<uint64_t> offsets;

 private:
  std::string resource_;
  std::deque<Step> script_;
  std::optional<std::string> fail_always_;
};

// Every progress report of one call.
struct Progress {
  std::vector<std::pair<uint64_t, uint64_t>> calls;
  ProgressFn fn() {
    return [this](uint64_t done, uint64_t total) { calls.emplace_back(done, total); };
  }
};

class DownloadTest : public ::testing::Test {
 protected:
  const std::string file_ = Pattern(3 * kPiece + 500);
  const std::string digest_ = Sha256Of(file_);
  FakeHttp http_{file_};
  ScratchDir dir_;
  const fs::path dest_ = dir_ / "tools" / "llvm.tar.xz";
  Progress progress_;
  std::string error_;
  const std::string url_ = "https://example.invalid/llvm.tar.xz";

  bool Run(const std::string& digest, uint64_t size, const std::atomic<bool>* cancel = nullptr) {
    return Download(http_, url_, dest_, digest, size, progress_.fn(), cancel, error_);
  }
};

// --- FetchText -----------------------------------------------------------------------------

TEST(FetchTextTest, ThreeAttemptsWhenAllFailWithTheLastError) {
  FakeHttp http("{}");
  FakeHttp::Step first;
  first.fail = true;
  first.error = "first";
  FakeHttp::Step second = first;
  second.error = "second";
  FakeHttp::Step third = first;
  third.error = "third";
  http.Then(first);
  http.Then(second);
  http.Then(third);
  std::string out = "old";
  std::string error;
  EXPECT_FALSE(FetchText(http, "https://example.invalid/a.json", out, error));
  EXPECT_EQ(error, "third");
  EXPECT_EQ(http.offsets, (std::vector<uint64_t>{0, 0, 0}));
}

TEST(FetchTextTest, OutputHoldsOnlyTheBodyOfTheSuccessfulAttempt) {
  FakeHttp http(R"({"tag_name":"v1.2"})");
  FakeHttp::Step partial;
  partial.body = "garbage that stops halfway";
  partial.deliver = 7;
  partial.fail = true;
  http.Then(partial);
  std::string out;
  std::string error;
  ASSERT_TRUE(FetchText(http, "https://example.invalid/a.json", out, error)) << error;
  EXPECT_EQ(out, R"({"tag_name":"v1.2"})");
  EXPECT_EQ(http.offsets.size(), 2u);
}

TEST(FetchTextTest, OverTheWireWithARedirect) {
  HttpServer server;
  server.Serve("/releases/latest.json", R"({"tag_name":"v2.0"})");
  server.Redirect("/latest", "/releases/latest.json");
  std::unique_ptr<Http> http = CreateHttp();
  std::string out;
  std::string error;
  ASSERT_TRUE(FetchText(*http, server.Url("/latest"), out, error)) << error;
  EXPECT_EQ(out, R"({"tag_name":"v2.0"})");

  server.Status("/missing", 404);
  EXPECT_FALSE(FetchText(*http, server.Url("/missing"), out, error));
  EXPECT_EQ(error, "the server answered 404 for " + server.Url("/missing"));
  EXPECT_EQ(server.Count("/missing"), 3);
}

// --- Download's own logic ------------------------------------------------------------------

TEST_F(DownloadTest, FreshDownloadIsVerifiedAndMovedIntoPlace) {
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_FALSE(fs::exists(PartOf(dest_)));
  EXPECT_EQ(http_.offsets, std::vector<uint64_t>{0});
  EXPECT_EQ(http_.urls, std::vector<std::string>{url_});
  ASSERT_FALSE(progress_.calls.empty());
  EXPECT_EQ(progress_.calls.back(), std::make_pair(uint64_t{file_.size()}, uint64_t{file_.size()}));
}

TEST_F(DownloadTest, DestinationMatchingTheDigestNeedsNoRequestAndNoProgress) {
  WriteFile(dest_, file_);
  ASSERT_TRUE(Run(digest_, 0)) << error_;
  ASSERT_TRUE(Run(Upper(digest_), 999)) << error_;  // the size does not count beside a digest
  EXPECT_TRUE(http_.offsets.empty());
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(DownloadTest, WithoutDigestOrSizeAnyExistingDestinationIsComplete) {
  WriteFile(dest_, "something else entirely");
  ASSERT_TRUE(Run("", 0)) << error_;
  EXPECT_EQ(ReadFile(dest_), "something else entirely");
  EXPECT_TRUE(http_.offsets.empty());
}

TEST_F(DownloadTest, WithoutDigestADestinationOfAnotherSizeIsReplaced) {
  WriteFile(dest_, "an older, shorter file");
  ASSERT_TRUE(Run("", file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, std::vector<uint64_t>{0});

  http_.offsets.clear();
  ASSERT_TRUE(Run("", file_.size())) << error_;  // now of the right size: kept
  EXPECT_TRUE(http_.offsets.empty());
}

TEST_F(DownloadTest, DestinationWithAnotherDigestIsDownloadedAgain) {
  WriteFile(dest_, Pattern(file_.size(), 99));
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets.size(), 1u);
}

TEST_F(DownloadTest, CompletePartFileIsVerifiedWithoutARequest) {
  WriteFile(PartOf(dest_), file_);
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_TRUE(http_.offsets.empty());
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(DownloadTest, CompletePartFileThatIsDamagedStartsOverFromZero) {
  WriteFile(PartOf(dest_), Pattern(file_.size(), 42));
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, std::vector<uint64_t>{0});
}

TEST_F(DownloadTest, PartFileLongerThanTheSizeIsRemovedAndTheSameAttemptStartsFromZero) {
  WriteFile(PartOf(dest_), Pattern(file_.size() + 10, 7));
  FakeHttp::Step only_once;  // a second attempt would fail: the first must start from zero
  http_.Then(only_once);
  http_.FailAlways("unexpected second attempt");
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, std::vector<uint64_t>{0});
}

TEST_F(DownloadTest, FailedTransferResumesFromThePartLengthWithProgressFromThere) {
  FakeHttp::Step cut;
  cut.deliver = kPiece + 100;
  cut.fail = true;
  http_.Then(cut);
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, (std::vector<uint64_t>{0, kPiece + 100}));
  // The second attempt's first report counts the bytes of the first attempt.
  const std::vector<std::pair<uint64_t, uint64_t>> expected = {
      {kPiece, file_.size()},          {kPiece + 100, file_.size()},
      {2 * kPiece + 100, file_.size()}, {3 * kPiece + 100, file_.size()},
      {file_.size(), file_.size()}};
  EXPECT_EQ(progress_.calls, expected);
}

TEST_F(DownloadTest, ResumedFromAPartFileLeftByAnEarlierCall) {
  WriteFile(PartOf(dest_), file_.substr(0, 1000));
  ASSERT_TRUE(Run(digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, std::vector<uint64_t>{1000});
  ASSERT_FALSE(progress_.calls.empty());
  EXPECT_EQ(progress_.calls.front().first, 1000u + kPiece);
}

TEST_F(DownloadTest, WithoutAnySizeTheProgressShowsTheReceivedCountAsTotal) {
  FakeHttp::Step no_total;
  no_total.tell_total = false;
  http_.Then(no_total);
  ASSERT_TRUE(Run("", 0)) << error_;
  ASSERT_EQ(progress_.calls.size(), 4u);
  for (const auto& [done, total] : progress_.calls) EXPECT_EQ(done, total);
  EXPECT_EQ(progress_.calls.back().first, file_.size());
}

TEST_F(DownloadTest, TheAnswersTotalReplacesTheExpectedSizeInTheProgress) {
  ASSERT_TRUE(Run("", 0)) << error_;
  ASSERT_FALSE(progress_.calls.empty());
  EXPECT_EQ(progress_.calls.front(), std::make_pair(kPiece, uint64_t{file_.size()}));
}

TEST_F(DownloadTest, FiveMismatchesEndWithTheChecksumSentence) {
  const std::string wrong = Sha256Of("not the file");
  EXPECT_FALSE(Run(wrong, file_.size()));
  EXPECT_EQ(error_, "the download of llvm.tar.xz failed its check (checksum)");
  EXPECT_EQ(http_.offsets, (std::vector<uint64_t>{0, 0, 0, 0, 0}));
  EXPECT_FALSE(fs::exists(PartOf(dest_)));
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(DownloadTest, FailuresAndMismatchesShareTheLimitOfFiveAttempts) {
  FakeHttp::Step fail;
  fail.fail = true;
  fail.deliver = 0;
  fail.error = "the request failed (fake)";
  FakeHttp::Step damaged;
  damaged.body = Pattern(file_.size(), 5);
  http_.Then(damaged);
  http_.Then(fail);
  http_.Then(damaged);
  http_.Then(fail);
  http_.Then(fail);
  EXPECT_FALSE(Run(digest_, file_.size()));
  EXPECT_EQ(error_, "the request failed (fake)");
  EXPECT_EQ(http_.offsets.size(), 5u);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(DownloadTest, FailuresWithoutErrorTextNameTheUrl) {
  http_.FailAlways("");
  EXPECT_FALSE(Run(digest_, file_.size()));
  EXPECT_EQ(error_, "the download of " + url_ + " failed");
  EXPECT_EQ(http_.offsets.size(), 5u);
}

TEST_F(DownloadTest, CancelLeavesThePartFileAndTheNextCallResumesIt) {
  std::atomic<bool> cancel{false};
  const ProgressFn stop_after_two = [&](uint64_t done, uint64_t) {
    if (done >= 2 * kPiece) cancel = true;
  };
  EXPECT_FALSE(Download(http_, url_, dest_, digest_, file_.size(), stop_after_two, &cancel, error_));
  EXPECT_EQ(error_, kCancelled);
  EXPECT_EQ(ReadFile(PartOf(dest_)), file_.substr(0, 2 * kPiece));
  EXPECT_EQ(http_.offsets.size(), 1u);  // no further attempt after a stop

  cancel = false;
  ASSERT_TRUE(Run(digest_, file_.size(), &cancel)) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, (std::vector<uint64_t>{0, 2 * kPiece}));
}

TEST_F(DownloadTest, CancelAfterTheTransferStillStopsWithoutMovingIntoPlace) {
  std::atomic<bool> cancel{false};
  const ProgressFn stop_at_end = [&](uint64_t done, uint64_t total) {
    if (done == total) cancel = true;
  };
  EXPECT_FALSE(Download(http_, url_, dest_, digest_, file_.size(), stop_at_end, &cancel, error_));
  EXPECT_EQ(error_, kCancelled);
  EXPECT_EQ(ReadFile(PartOf(dest_)), file_);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(DownloadTest, UpperCaseDigestMatchesTheSameFile) {
  ASSERT_TRUE(Run(Upper(digest_), file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
}

TEST_F(DownloadTest, FolderThatCannotBeCreatedIsCannotWrite) {
  WriteFile(dir_ / "tools", "a file where the folder should be");
  EXPECT_FALSE(Run(digest_, file_.size()));
  EXPECT_EQ(error_, "cannot write " + PathToUtf8(PartOf(dest_)));
  EXPECT_TRUE(http_.offsets.empty());
}

TEST_F(DownloadTest, RenameFailureNamesThePartFileAndKeepsIt) {
  // A folder that is not empty at the destination: the move into place cannot replace it.
  WriteFile(dest_ / "inside.txt", "x");
  EXPECT_FALSE(Run(digest_, file_.size()));
  EXPECT_EQ(error_.rfind("cannot rename " + PathToUtf8(PartOf(dest_)) + ": ", 0), 0u) << error_;
  EXPECT_GT(error_.size(), ("cannot rename " + PathToUtf8(PartOf(dest_)) + ": ").size());
  EXPECT_EQ(ReadFile(PartOf(dest_)), file_);
}

TEST_F(DownloadTest, WithoutDigestATransferOfTheWrongSizeIsNotPutInPlace) {
  // The transfer claims success with fewer bytes than the caller expects: the next attempt
  // resumes, and the file is complete in the end.
  FakeHttp::Step short_body;
  short_body.deliver = 1000;
  http_.Then(short_body);
  ASSERT_TRUE(Run("", file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(http_.offsets, (std::vector<uint64_t>{0, 1000}));

  // A server whose file is longer than expected never gets it into place.
  fs::remove(dest_);
  http_.offsets.clear();
  EXPECT_FALSE(Run("", file_.size() - 1));
  EXPECT_EQ(error_, "the download of llvm.tar.xz failed its check (size)");
  EXPECT_EQ(http_.offsets.size(), 5u);
  EXPECT_FALSE(fs::exists(dest_));
}

// --- Download over the wire ----------------------------------------------------------------

class DownloadWireTest : public ::testing::Test {
 protected:
  const std::string file_ = Pattern(5 * kPiece + 1234);
  const std::string digest_ = Sha256Of(file_);
  HttpServer server_;
  std::unique_ptr<Http> http_ = CreateHttp();
  ScratchDir dir_;
  const fs::path dest_ = dir_ / "downloads" / "package.zip";
  std::string error_;

  bool Run(const std::string& path, const std::string& digest, uint64_t size,
           const ProgressFn& progress = {}, const std::atomic<bool>* cancel = nullptr) {
    return Download(*http_, server_.Url(path), dest_, digest, size, progress, cancel, error_);
  }
};

TEST_F(DownloadWireTest, DroppedConnectionResumesWithARangedRequest) {
  int calls = 0;
  const std::string file = file_;
  server_.Route("/package.zip", [&calls, file](const test::Request&) {
    Reply reply;
    reply.body = file;
    if (calls++ == 0) reply.drop_after = 2 * kPiece + 10;
    return reply;
  });
  Progress progress;
  ASSERT_TRUE(Run("/package.zip", digest_, file_.size(), progress.fn())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_FALSE(fs::exists(PartOf(dest_)));
  // Everything sent before the cut was kept: the second request starts right there.
  EXPECT_EQ(server_.Ranges("/package.zip"),
            (std::vector<std::string>{"", "bytes=" + std::to_string(2 * kPiece + 10) + "-"}));
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.back(), std::make_pair(uint64_t{file_.size()}, uint64_t{file_.size()}));
}

TEST_F(DownloadWireTest, ResumeAgainstAServerThatIgnoresRangesStillGivesTheFile) {
  WriteFile(PartOf(dest_), file_.substr(0, 3 * kPiece + 7));
  Reply reply;
  reply.body = file_;
  reply.ranges = false;
  server_.Route("/package.zip", reply);
  ASSERT_TRUE(Run("/package.zip", digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(server_.Ranges("/package.zip"),
            std::vector<std::string>{"bytes=" + std::to_string(3 * kPiece + 7) + "-"});
}

TEST_F(DownloadWireTest, FileStreamedFromDiskResumesFromThePart) {
  WriteFile(dir_ / "served" / "big.bin", file_);
  server_.ServeFile("/big.bin", dir_ / "served" / "big.bin");
  WriteFile(PartOf(dest_), file_.substr(0, kPiece + 3));
  Progress progress;
  ASSERT_TRUE(Run("/big.bin", digest_, 0, progress.fn())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(server_.Ranges("/big.bin"),
            std::vector<std::string>{"bytes=" + std::to_string(kPiece + 3) + "-"});
  // With no expected size the total comes from the answer: the resumed bytes plus the rest.
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front().second, file_.size());
  EXPECT_GT(progress.calls.front().first, kPiece + 3);
}

TEST_F(DownloadWireTest, ReleaseDownloadThroughARedirect) {
  server_.Serve("/objects/12345", file_);
  server_.Redirect("/releases/download/v1.0/package.zip", "/objects/12345");
  ASSERT_TRUE(Run("/releases/download/v1.0/package.zip", digest_, file_.size())) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
}

TEST_F(DownloadWireTest, MissingFileFailsAfterFiveRequestsWithTheServersAnswer) {
  server_.Status("/package.zip", 404);
  EXPECT_FALSE(Run("/package.zip", digest_, file_.size()));
  EXPECT_EQ(error_, "the server answered 404 for " + server_.Url("/package.zip"));
  EXPECT_EQ(server_.Count("/package.zip"), 5);
}

TEST_F(DownloadWireTest, CompletePartFileAgainstA416IsVerifiedWithoutARequest) {
  // Were a request made from the end of the file the server would answer 416.
  WriteFile(PartOf(dest_), file_);
  server_.Serve("/package.zip", file_);
  ASSERT_TRUE(Run("/package.zip", Upper(digest_), file_.size())) << error_;
  EXPECT_EQ(server_.TotalCount(), 0);
  EXPECT_EQ(ReadFile(dest_), file_);
}

TEST_F(DownloadWireTest, CancelDuringAStalledBodyLeavesThePartAndTheNextCallResumes) {
  Reply stalled;
  stalled.body = file_;
  stalled.stall_after = 2 * kPiece;
  server_.Route("/package.zip", stalled);
  std::atomic<bool> cancel{false};
  // The player presses Stop once the first bytes are in; the stall never ends by itself.
  const ProgressFn stop = [&](uint64_t, uint64_t) { cancel = true; };
  EXPECT_FALSE(Run("/package.zip", digest_, file_.size(), stop, &cancel));
  EXPECT_EQ(error_, kCancelled);
  const std::string part = ReadFile(PartOf(dest_));
  EXPECT_GT(part.size(), 0u);
  EXPECT_EQ(part, file_.substr(0, part.size()));
  EXPECT_EQ(server_.Count("/package.zip"), 1);

  server_.ReleaseStalls();
  server_.Serve("/package.zip", file_);
  cancel = false;
  ASSERT_TRUE(Run("/package.zip", digest_, file_.size(), {}, &cancel)) << error_;
  EXPECT_EQ(ReadFile(dest_), file_);
  EXPECT_EQ(server_.Ranges("/package.zip").back(), "bytes=" + std::to_string(part.size()) + "-");
}

TEST_F(DownloadWireTest, MoreBytesThanAnnouncedAreCaughtByTheDigest) {
  // The server announces fewer bytes than the file has and sends them all: the client takes
  // only the announced bytes, so the file is short and its digest does not match.
  Reply liar;
  liar.body = file_;
  liar.announced_length = file_.size() - 1000;
  server_.Route("/package.zip", liar);
  EXPECT_FALSE(Run("/package.zip", digest_, 0));
  EXPECT_EQ(error_, "the download of package.zip failed its check (checksum)");
  EXPECT_EQ(server_.Count("/package.zip"), 5);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(DownloadWireTest, MoreBytesThanExpectedWithoutDigestAreCaughtBySize) {
  // No Content-Length: the client takes everything up to the close, more than the caller said.
  Reply longer;
  longer.body = file_ + "trailing junk";
  longer.content_length = false;
  server_.Route("/package.zip", longer);
  EXPECT_FALSE(Run("/package.zip", "", file_.size()));
  EXPECT_EQ(error_, "the download of package.zip failed its check (size)");
  EXPECT_FALSE(fs::exists(dest_));
}

// --- A stop against servers that misbehave ----------------------------------------------------

// A stop set 300 ms into a wait must end the call within this: far below the transport's own
// time-outs (15 s to connect, 60 s without a byte), with room for a loaded machine.
constexpr auto kStopBound = std::chrono::seconds(5);
constexpr auto kStopDelay = std::chrono::milliseconds(300);
constexpr uint64_t kMiB = 1024 * 1024;

class MisbehavingServerTest : public ::testing::Test {
 protected:
  const std::string body_ = Pattern(4 * kMiB);
  HttpServer server_;
  std::unique_ptr<Http> http_ = CreateHttp();
  ScratchDir dir_;
};

TEST_F(MisbehavingServerTest, DownloadStopsAtOnceKeepsItsPartAndSaysWhatTheServerDid) {
  for (const test::Misbehaviour& server : test::Misbehaviours(body_)) {
    SCOPED_TRACE(server.name);
    server_.Route("/package.zip", server.reply);
    server_.ClearRecords();
    const fs::path dest = dir_ / server.name / "package.zip";
    fs::path part = dest;
    part += ".part";
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> received{0};
    const ProgressFn progress = [&](uint64_t done, uint64_t) { received = done; };
    std::string error;
    bool ok = false;
    // A stall is stopped mid-body, once its first MiB is in; a silent server while it is asked.
    const bool mid_body = server.reply.stall_after.has_value();
    const auto stop_to_end = test::RunAndStop(
        [&] {
          ok = Download(*http_, server_.Url("/package.zip"), dest, Sha256Of(body_), body_.size(),
                        progress, &cancel, error);
        },
        cancel,
        [&] {
          return server.hangs && server_.Count("/package.zip") > 0 &&
                 (!mid_body || received >= kMiB);
        },
        kStopDelay);

    if (server.hangs) {
      ASSERT_TRUE(stop_to_end.has_value());
      EXPECT_LT(*stop_to_end, kStopBound);
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, kCancelled);
      EXPECT_TRUE(fs::exists(part));
      if (mid_body) {
        EXPECT_EQ(fs::file_size(part), kMiB);
      }
      EXPECT_FALSE(fs::exists(dest));
    } else if (server.reply.drop_after) {
      // Each try brings one more MiB: the resume completes the file.
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(ReadFile(dest), body_);
      EXPECT_EQ(server_.Count("/package.zip"), 4);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, "the server answered " + std::to_string(server.reply.status) + " for " +
                           server_.Url("/package.zip"));
      EXPECT_EQ(server_.Count("/package.zip"), 5);
    }
  }
}

TEST_F(MisbehavingServerTest, FetchTextStopsAtOnceAndSaysWhatTheServerDid) {
  for (const test::Misbehaviour& server : test::Misbehaviours(body_)) {
    SCOPED_TRACE(server.name);
    server_.Route("/a.json", server.reply);
    server_.ClearRecords();
    std::atomic<bool> cancel{false};
    std::string out;
    std::string error;
    bool ok = false;
    const auto stop_to_end = test::RunAndStop(
        [&] { ok = FetchText(*http_, server_.Url("/a.json"), out, error, &cancel); }, cancel,
        [&] { return server.hangs && server_.Count("/a.json") > 0; }, kStopDelay);

    EXPECT_FALSE(ok);
    if (server.hangs) {
      ASSERT_TRUE(stop_to_end.has_value());
      EXPECT_LT(*stop_to_end, kStopBound);
      EXPECT_EQ(error, kCancelled);
      // The stop also spares the tries that were still to come.
      EXPECT_EQ(server_.Count("/a.json"), 1);
    } else if (server.reply.drop_after) {
      EXPECT_EQ(error.rfind("the download stopped (", 0), 0u) << error;
      EXPECT_EQ(FetchFaultOf(error), FetchFault::kUnreachable);
      EXPECT_EQ(server_.Count("/a.json"), 3);
    } else {
      EXPECT_EQ(error, "the server answered " + std::to_string(server.reply.status) + " for " +
                           server_.Url("/a.json"));
      EXPECT_EQ(FetchFaultOf(error), server.reply.status == 500   ? FetchFault::kServer
                                     : server.reply.status == 404 ? FetchFault::kMissing
                                                                  : FetchFault::kOtherStatus);
      EXPECT_EQ(server_.Count("/a.json"), 3);
    }
  }
}

TEST(FetchFaultTest, HintsSayWhatTheServerDidAndWhatToDo) {
  const std::string reach =
      " (the server could not be reached; press the button again to carry on)";
  const std::string fault = " (the server has a fault of its own; press the button again later)";
  const struct {
    const char* error;
    FetchFault fault;
    std::string hint;
  } cases[] = {
      {"the request failed (7: Couldn't connect to server)", FetchFault::kUnreachable, reach},
      {"the request failed (12029: cannot connect to the server)", FetchFault::kUnreachable, reach},
      {"the download stopped (28: Operation too slow)", FetchFault::kUnreachable, reach},
      {"Visual Studio channel: the request failed (12002)", FetchFault::kUnreachable, reach},
      {"cannot reach the server (12005)", FetchFault::kUnreachable, reach},
      // Nothing went out: an address the system cannot use, or the Windows service not there.
      {"bad address ftp://x/y", FetchFault::kUnreachable, reach},
      {"WinHTTP is unavailable (12007: the service is not there)", FetchFault::kUnreachable, reach},
      {"cannot open the request (12005: the URL is not valid)", FetchFault::kUnreachable, reach},
      {"the server answered 503 for https://x/y", FetchFault::kServer, fault},
      {"the server answered 500 for https://x/y", FetchFault::kServer, fault},
      {"the server answered 404 for https://x/y", FetchFault::kMissing, ""},
      {"the server answered 403 for https://x/y", FetchFault::kRefused, ""},
      {"the server answered 429 for https://x/y", FetchFault::kRateLimited, ""},
      // The status is read where the text says it, not from the URL that follows.
      {"the server answered 401 for https://x/404 ", FetchFault::kOtherStatus, ""},
      {"the server answered 4040 for https://x/y", FetchFault::kOtherStatus, ""},
      {"the download of a.zip failed its check (checksum)", FetchFault::kOther, ""},
      {"stopped", FetchFault::kOther, ""},
      {kCancelled, FetchFault::kOther, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FetchFaultOf(c.error), c.fault) << c.error;
    EXPECT_EQ(FetchFaultHint(c.error), c.hint) << c.error;
  }
  EXPECT_EQ(FetchFaultHint("the request failed (7)", "\"Update\" again"),
            " (the server could not be reached; press \"Update\" again to carry on)");
}

TEST_F(DownloadWireTest, AFileThatCannotFitIsRefusedBeforeAnyRequestAndThePartIsKept) {
  // No drive has 4 EiB free.
  constexpr uint64_t kHuge = uint64_t(1) << 62;
  server_.Serve("/package.zip", file_);
  fs::create_directories(dest_.parent_path());
  fs::path part = dest_;
  part += ".part";
  WriteFile(part, file_.substr(0, 1000));
  EXPECT_FALSE(Run("/package.zip", "", kHuge));
  EXPECT_EQ(error_.rfind("the download of package.zip needs " + FormatSize(kHuge - 1000) + ", ", 0),
            0u)
      << error_;
  EXPECT_TRUE(error_.ends_with(" free on this drive")) << error_;
  EXPECT_EQ(server_.TotalCount(), 0);
  EXPECT_EQ(ReadFile(part), file_.substr(0, 1000));
}

}  // namespace
}  // namespace launcher
