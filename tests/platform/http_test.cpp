// The system's HTTP client (WinHTTP on Windows, libcurl elsewhere) against the tests' own server
// on 127.0.0.1: the same expectations hold on both.
#include "platform/http.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"

namespace launcher {
namespace {

using test::HttpServer;
using test::Reply;

constexpr uint64_t kPiece = 64 * 1024;

// Bytes that differ from one position to the next, so that a shifted body never matches.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 9) + 7);
  return bytes;
}

// What one Get delivered.
struct Result {
  bool ok = false;
  std::string body;
  uint64_t total = 12345;  // a value Get must overwrite
  std::string error;
  uint64_t largest_piece = 0;
  int pieces = 0;
};

class HttpTest : public ::testing::Test {
 protected:
  Result Get(const std::string& path, uint64_t offset = 0) { return GetUrl(server_.Url(path), offset); }

  Result GetUrl(const std::string& url, uint64_t offset = 0) {
    Result r;
    const BodySink sink = [&r](const uint8_t* data, uint64_t size) {
      r.body.append(reinterpret_cast<const char*>(data), size);
      r.largest_piece = std::max(r.largest_piece, size);
      ++r.pieces;
      return true;
    };
    r.ok = http_->Get(url, offset, sink, &r.total, r.error, nullptr);
    return r;
  }

  HttpServer server_;
  std::unique_ptr<Http> http_ = CreateHttp();
};

TEST_F(HttpTest, WholeBodyWithoutRangeInPiecesOfAtMost64KiB) {
  const std::string body = Pattern(5 * kPiece + 321);
  server_.Serve("/file.bin", body);

  const Result r = Get("/file.bin");

  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.total, body.size());
  EXPECT_LE(r.largest_piece, kPiece);
  EXPECT_EQ(server_.Ranges("/file.bin"), std::vector<std::string>{""});
  EXPECT_EQ(server_.Requests("/file.bin")[0].Header("User-Agent"), "Kelvane launcher/1.0");
  EXPECT_EQ(server_.Requests("/file.bin")[0].method, "GET");
}

TEST_F(HttpTest, RangedAnswerIsDeliveredAsSentWithTheOffsetAddedToTheTotal) {
  const std::string body = Pattern(3 * kPiece);
  server_.Serve("/file.bin", body);

  const Result r = Get("/file.bin", 70000);

  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body.substr(70000));
  EXPECT_EQ(r.total, body.size());
  EXPECT_EQ(server_.Ranges("/file.bin"), std::vector<std::string>{"bytes=70000-"});
}

TEST_F(HttpTest, WholeAnswerToRangedRequestDropsTheBytesBeforeTheOffset) {
  // The offset spans several 64 KiB reads, and one more byte than a whole number of them.
  const std::string body = Pattern(6 * kPiece);
  const uint64_t offset = 3 * kPiece + 1;
  Reply reply;
  reply.body = body;
  reply.ranges = false;
  server_.Route("/file.bin", reply);

  const Result r = Get("/file.bin", offset);

  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body.substr(offset));
  EXPECT_EQ(r.total, body.size());
  EXPECT_EQ(server_.Ranges("/file.bin"), std::vector<std::string>{"bytes=196609-"});
}

TEST_F(HttpTest, AnswersOtherThan200And206AreErrorsNamingTheStatusAndUrl) {
  server_.Status("/gone", 404, "nothing here");
  server_.Status("/broken", 500, "oops");
  server_.Serve("/short", "0123456789");
  struct Case {
    std::string path;
    uint64_t offset;
    int status;
  };
  for (const Case& c : {Case{"/gone", 0, 404}, Case{"/short", 10, 416}, Case{"/broken", 0, 500},
                        Case{"/unknown", 0, 404}}) {
    SCOPED_TRACE(c.path);
    const Result r = Get(c.path, c.offset);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error,
              "the server answered " + std::to_string(c.status) + " for " + server_.Url(c.path));
    EXPECT_EQ(r.body, "");
  }
}

TEST_F(HttpTest, RedirectsAreFollowedAndOnlyTheFinalAnswerCounts) {
  const std::string body = Pattern(100000);
  server_.Serve("/real.bin", body);
  server_.Redirect("/latest", "/real.bin");
  server_.Redirect("/hop", "/latest", 301);
  server_.Redirect("/dead-end", "/missing", 302);

  Result r = Get("/hop");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.total, body.size());

  r = Get("/latest", 1000);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body.substr(1000));
  EXPECT_EQ(r.total, body.size());
  EXPECT_EQ(server_.Ranges("/real.bin"), (std::vector<std::string>{"", "bytes=1000-"}));
  EXPECT_EQ(server_.Requests("/real.bin")[1].Header("User-Agent"), "Kelvane launcher/1.0");

  r = Get("/dead-end");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "the server answered 404 for " + server_.Url("/dead-end"));
}

TEST_F(HttpTest, EachRedirectFollowedIsToldWithItsUrl) {
  const std::string body = Pattern(1000);
  server_.Serve("/real.bin", body);
  server_.Redirect("/latest", "/real.bin");
  server_.Redirect("/hop", "/latest", 301);
  Reply away;
  away.status = 302;
  const std::string elsewhere = "http://localhost:" + std::to_string(server_.port()) + "/real.bin";
  away.headers = {{"Location", elsewhere}};
  server_.Route("/away", away);
  const BodySink ignore = [](const uint8_t*, uint64_t) { return true; };

  const struct {
    std::string path;
    std::vector<std::string> hops;  // where the redirects lead, in order
  } cases[] = {
      {"/real.bin", {}},
      {"/hop", {server_.Url("/latest"), server_.Url("/real.bin")}},
      {"/away", {elsewhere}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> told;
    const RedirectReport tell = [&told](const std::string& url) { told.push_back(url); };
    std::string error;
    ASSERT_TRUE(
        http_->GetTellingRedirects(server_.Url(c.path), 0, ignore, nullptr, error, nullptr, tell))
        << error;
    // Two hops in quick succession may be told as one, the last; the last is always told.
    if (c.hops.empty()) {
      EXPECT_TRUE(told.empty());
    } else {
      ASSERT_FALSE(told.empty());
      EXPECT_EQ(told.back(), c.hops.back());
      for (const std::string& url : told) {
        EXPECT_NE(std::find(c.hops.begin(), c.hops.end(), url), c.hops.end()) << url;
      }
    }
  }
}

TEST_F(HttpTest, QueryReachesTheServer) {
  server_.Route("/api", [](const test::Request& request) {
    Reply reply;
    reply.body = request.target;
    return reply;
  });
  const Result r = Get("/api?page=2&per_page=10");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, "/api?page=2&per_page=10");
}

TEST_F(HttpTest, BodyWithoutContentLengthEndsWithTheConnectionAndHasNoTotal) {
  const std::string body = Pattern(2 * kPiece + 17);
  Reply reply;
  reply.body = body;
  reply.content_length = false;
  server_.Route("/stream", reply);

  const Result r = Get("/stream");

  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.total, 0u);
}

TEST_F(HttpTest, EmptyBodyIsASuccessWithNothingDelivered) {
  server_.Serve("/empty", "");
  const Result r = Get("/empty");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.pieces, 0);
  EXPECT_EQ(r.total, 0u);
}

TEST_F(HttpTest, ConnectionDroppedHalfwayIsAFailedDownload) {
  const std::string body = Pattern(4 * kPiece);
  Reply reply;
  reply.body = body;
  reply.drop_after = kPiece + 5000;
  server_.Route("/cut", reply);

  const Result r = Get("/cut");

  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("the download stopped (", 0), 0u) << r.error;
  EXPECT_EQ(r.body, body.substr(0, r.body.size()));  // what did arrive is the file's beginning
  EXPECT_LE(r.body.size(), kPiece + 5000);
}

TEST_F(HttpTest, BytesBeyondTheAnnouncedLengthAreNotDelivered) {
  const std::string body = Pattern(50000);
  Reply reply;
  reply.body = body;
  reply.announced_length = 30000;
  server_.Route("/more", reply);

  const Result r = Get("/more");

  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, body.substr(0, 30000));
  EXPECT_EQ(r.total, 30000u);
}

TEST_F(HttpTest, SinkThatRefusesStopsTheTransfer) {
  server_.Serve("/file.bin", Pattern(4 * kPiece));
  int calls = 0;
  std::string error;
  const bool ok = http_->Get(
      server_.Url("/file.bin"), 0, [&](const uint8_t*, uint64_t) { return ++calls, false; },
      nullptr, error, nullptr);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "stopped");
  EXPECT_EQ(calls, 1);
}

TEST_F(HttpTest, SinkStopsAStalledTransferWithoutWaitingForTheTimeOut) {
  // The server sends a little, then nothing until the test ends: the caller's sink is the way
  // out, long before the 60 s receive time-out.
  Reply reply;
  reply.body = Pattern(4 * kPiece);
  reply.stall_after = 1000;
  server_.Route("/stall", reply);
  uint64_t seen = 0;
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = http_->Get(
      server_.Url("/stall"), 0,
      [&](const uint8_t*, uint64_t size) {
        seen += size;
        return false;
      },
      nullptr, error, nullptr);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "stopped");
  EXPECT_EQ(seen, 1000u);
  EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST_F(HttpTest, StalledTransferCarriesOnWhenTheServerResumes) {
  const std::string body = Pattern(3 * kPiece);
  Reply reply;
  reply.body = body;
  reply.stall_after = 2000;
  server_.Route("/stall", reply);
  std::string received;
  std::string error;
  const bool ok = http_->Get(
      server_.Url("/stall"), 0,
      [&](const uint8_t* data, uint64_t size) {
        received.append(reinterpret_cast<const char*>(data), size);
        if (received.size() >= 2000) server_.ReleaseStalls();
        return true;
      },
      nullptr, error, nullptr);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(received, body);
}

TEST_F(HttpTest, BadAddressesAreRefusedBeforeAnyRequest) {
  const std::string port = std::to_string(server_.port());
  const std::vector<std::string> urls = {
      "http://" + std::string(256, 'a') + "/file.bin",
      "http://" + std::string(300, 'a') + ".example:" + port + "/file.bin",
      "no-scheme.example/file.bin",
      "127.0.0.1:" + port + "/file.bin",
      "http://",
      "",
      "ftp://127.0.0.1/file.bin",
      "http://127.0.0.1:" + port + "/" + std::string(5000, 'p'),
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url.substr(0, 80));
    const Result r = GetUrl(url);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "bad address " + url);
  }
  EXPECT_EQ(server_.TotalCount(), 0);
}

TEST_F(HttpTest, ServerThatIsNotThereIsAFailedRequest) {
  std::string url;
  {
    HttpServer gone;
    url = gone.Url("/file.bin");
  }
  const Result r = GetUrl(url);
  EXPECT_FALSE(r.ok);
  // The code comes with words that say what happened.
  EXPECT_EQ(r.error.rfind("the request failed (", 0), 0u) << r.error;
  const size_t colon = r.error.find(": ");
  ASSERT_NE(colon, std::string::npos) << r.error;
  EXPECT_GT(r.error.size(), colon + 3) << r.error;
}

TEST_F(HttpTest, AStopEndsTheWaitForTheHeadersAndForTheBody) {
  const struct {
    const char* name;
    Reply reply;
    uint64_t delivered;  // bytes the sink gets before the stall
  } cases[] = {
      {"never answers",
       [] {
         Reply r;
         r.silent = true;
         return r;
       }(),
       0},
      {"stalls mid-body",
       [] {
         Reply r;
         r.body = Pattern(4 * kPiece);
         r.stall_after = 2 * kPiece;
         return r;
       }(),
       2 * kPiece},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Route("/slow", c.reply);
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> got{0};
    const BodySink sink = [&got](const uint8_t*, uint64_t size) {
      got += size;
      return true;
    };
    std::string error;
    bool ok = true;
    const auto stop_to_end = test::RunAndStop(
        [&] { ok = http_->Get(server_.Url("/slow"), 0, sink, nullptr, error, &cancel); }, cancel,
        [&] { return server_.Count("/slow") > 0 && got >= c.delivered; },
        std::chrono::milliseconds(300));
    ASSERT_TRUE(stop_to_end.has_value());
    EXPECT_LT(*stop_to_end, std::chrono::seconds(5));
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, kCancelled);
    EXPECT_EQ(got, c.delivered);
  }
}

TEST_F(HttpTest, OneClientServesManyRequestsInTurn) {
  server_.Serve("/a", "first");
  server_.Serve("/b", "second");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Get("/a").body, "first");
    EXPECT_EQ(Get("/b", 3).body, "ond");
  }
  EXPECT_EQ(server_.Count("/a"), 5);
  EXPECT_EQ(server_.Count("/b"), 5);
}

}  // namespace
}  // namespace launcher
