#include "catalogue/release.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/builtin_texts.h"
#include "platform/http.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(VersionTags, WhatIsATag) {
  const std::pair<std::string, std::vector<uint32_t>> tags[] = {
      {"v1.0", {1, 0}},
      {"V1.0", {1, 0}},
      {"v1", {1}},
      {"v01.0.0", {1, 0, 0}},
      {"v01.2", {1, 2}},
      {"v10.4.1", {10, 4, 1}},
      {"v4294967295", {4294967295u}},
  };
  for (const auto& [tag, groups] : tags) {
    EXPECT_EQ(ParseVersionTag(tag), groups) << tag;
    EXPECT_TRUE(IsVersionTag(tag)) << tag;
  }
  const std::string not_tags[] = {"1.0",   "v",      "v.1",       "v1.",   "v1..2",
                                  "v1.0-beta", " v1.0", "v1.0 ",   "dev",   "",
                                  "vv1",   "v1.a",   "v-1",       "w1.0",  "v+1",
                                  "v4294967296",  // a group beyond 32 bits is refused, not wrapped
                                  "v1.99999999999"};
  for (const std::string& tag : not_tags) {
    EXPECT_THAT(ParseVersionTag(tag), IsEmpty()) << "\"" << tag << "\"";
    EXPECT_FALSE(IsVersionTag(tag)) << "\"" << tag << "\"";
  }
}

TEST(VersionTags, Comparison) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  };
  const Case cases[] = {
      {"v1.10", "v1.9", 1}, {"v1.9", "v1.10", -1}, {"v1.0", "v1", 0},     {"v1", "v1.0.0", 0},
      {"V2", "v2.0", 0},    {"v1.0.1", "v1", 1},   {"v1", "v1.0.1", -1},  {"dev", "v0.1", -1},
      {"v0.1", "dev", 1},   {"dev", "nope", 0},    {"", "", 0},           {"v2", "v10", -1},
      {"v4294967295", "v4294967294", 1},  // unsigned comparison
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersionTags(c.a, c.b), c.result) << c.a << " vs " << c.b;
  }
}

// Keeps the hosting service's configuration as it was for the next test.
class HostingFixture : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Hosting(); }
  void TearDown() override { Hosting() = saved_; }

 private:
  HostingService saved_;
};

using LatestReleaseUrl = HostingFixture;

TEST_F(LatestReleaseUrl, DefaultsToGitHub) {
  EXPECT_EQ(Hosting().site, "https://github.com/");
  EXPECT_EQ(Hosting().api, "https://api.github.com");
  const std::pair<std::string, std::string> cases[] = {
      {"https://github.com/o/r.git", "https://api.github.com/repos/o/r/releases/latest"},
      {"https://github.com/o/r", "https://api.github.com/repos/o/r/releases/latest"},
      {"https://github.com/o/r/", "https://api.github.com/repos/o/r/releases/latest"},
      {"https://github.com/o/r///", "https://api.github.com/repos/o/r/releases/latest"},
      // Only a final ".git" is cut, before the slashes are.
      {"https://github.com/o/r.git/", "https://api.github.com/repos/o/r.git/releases/latest"},
      {"https://github.com/o/r.git.git", "https://api.github.com/repos/o/r.git/releases/latest"},
      {"https://github.com/o/x/y.git", "https://api.github.com/repos/o/x/y/releases/latest"},
      {"https://github.com/o/.git", ""},  // "o/" once ".git" is cut: no repository name
      {"https://github.com/a.git", ""},  // "a" has no repository name
      {"https://github.com/o", ""},
      {"https://github.com/o/", ""},
      {"https://github.com/", ""},
      {"https://github.com/.git", ""},  // four characters: not cut, no '/'
      {"https://github.com", ""},
      {"http://github.com/o/r.git", ""},
      {"https://GitHub.com/o/r.git", ""},  // the prefix is compared exactly
      {"https://gitlab.com/o/r.git", ""},
      {"git@github.com:o/r.git", ""},
      {"", ""},
  };
  for (const auto& [repo, url] : cases) EXPECT_EQ(LatestReleaseApiUrl(repo), url) << repo;
}

TEST_F(LatestReleaseUrl, BuiltInRepository) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(BuiltInGameJson(), game, error)) << error;
  EXPECT_EQ(LatestReleaseApiUrl(game.repo),
            "https://api.github.com/repos/kelvane/halvorn-native/releases/latest");
}

TEST_F(LatestReleaseUrl, FollowsTheConfiguredHosts) {
  Hosting().site = "http://127.0.0.1:8080/";
  Hosting().api = "http://127.0.0.1:8080/api";
  EXPECT_EQ(LatestReleaseApiUrl("http://127.0.0.1:8080/o/r.git"),
            "http://127.0.0.1:8080/api/repos/o/r/releases/latest");
  EXPECT_EQ(LatestReleaseApiUrl("https://github.com/o/r.git"), "");
}

// An asset of GitHub's release JSON, as the releases API gives it.
nlohmann::json Asset(const std::string& name, uint64_t size, const std::string& digest,
                     const std::string& url) {
  nlohmann::json asset = {
      {"url", "https://api.github.com/repos/o/r/releases/assets/1"},
      {"id", 1},
      {"node_id", "RA_kwDOxyz"},
      {"name", name},
      {"label", ""},
      {"uploader", {{"login", "o"}, {"id", 2}, {"type", "User"}}},
      {"content_type", "application/octet-stream"},
      {"state", "uploaded"},
      {"size", size},
      {"download_count", 12},
      {"created_at", "2025-03-01T10:00:00Z"},
      {"updated_at", "2025-03-01T10:00:05Z"},
      {"browser_download_url", url},
  };
  if (!digest.empty()) asset["digest"] = digest;
  return asset;
}

nlohmann::json ReleaseDocument(nlohmann::json assets) {
  return {
      {"url", "https://api.github.com/repos/o/r/releases/7"},
      {"assets_url", "https://api.github.com/repos/o/r/releases/7/assets"},
      {"html_url", "https://github.com/o/r/releases/tag/v1.2"},
      {"id", 7},
      {"author", {{"login", "o"}, {"id", 2}}},
      {"tag_name", "v1.2"},
      {"target_commitish", "main"},
      {"name", "Version 1.2"},
      {"draft", false},
      {"prerelease", false},
      {"created_at", "2025-03-01T09:00:00Z"},
      {"published_at", "2025-03-01T10:00:00Z"},
      {"assets", std::move(assets)},
      {"tarball_url", "https://api.github.com/repos/o/r/tarball/v1.2"},
      {"zipball_url", "https://api.github.com/repos/o/r/zipball/v1.2"},
      {"body", "What changed:\r\n- faster builds"},
  };
}

const std::string kDigest(64, 'c');

// The releases API of a hosting service of the test's own, on 127.0.0.1.
class FetchLatest : public HostingFixture {
 protected:
  void SetUp() override {
    HostingFixture::SetUp();
    Hosting().site = server_.Url("/");
    Hosting().api = server_.Url("/api");
    game_.short_name = "Halvorn";
    game_.repo = server_.Url("/o/r.git");
    http_ = CreateHttp();
  }

  void Answer(const std::string& body) { server_.Serve(kApiPath, body); }

  bool Fetch() { return FetchLatestRelease(*http_, game_, release_, error_); }

  static constexpr const char* kApiPath = "/api/repos/o/r/releases/latest";
  test::HttpServer server_;
  GameDescription game_;
  std::unique_ptr<Http> http_;
  Release release_;
  std::string error_;
};

TEST_F(FetchLatest, ReadsTheReleaseAndItsLauncher) {
  Answer(ReleaseDocument({Asset("Halvorn-package.zip", 900, "sha256:" + std::string(64, 'a'),
                                "https://github.com/o/r/releases/download/v1.2/Halvorn-package.zip"),
                          Asset("HalvornLauncher.exe", 123456, "sha256:" + kDigest,
                                "https://github.com/o/r/releases/download/v1.2/HalvornLauncher.exe")})
             .dump());
  ASSERT_TRUE(Fetch()) << error_;
  EXPECT_EQ(release_.tag_name, "v1.2");
  EXPECT_EQ(release_.name, "Version 1.2");
  EXPECT_EQ(release_.body, "What changed:\r\n- faster builds");
  EXPECT_EQ(release_.html_url, "https://github.com/o/r/releases/tag/v1.2");
  EXPECT_EQ(release_.browser_download_url,
            "https://github.com/o/r/releases/download/v1.2/HalvornLauncher.exe");
  EXPECT_EQ(release_.sha256, kDigest);
  EXPECT_EQ(release_.size, 123456u);
  EXPECT_EQ(server_.Count(kApiPath), 1);
}

TEST_F(FetchLatest, LauncherFieldsStayEmptyWithoutItsAsset) {
  nlohmann::json no_assets = ReleaseDocument(nlohmann::json::array());
  nlohmann::json missing = ReleaseDocument(nullptr);
  missing.erase("assets");
  const nlohmann::json documents[] = {
      no_assets,
      missing,
      // One asset each: an array written out, since {x} of one JSON value is that value with
      // some compilers and an array of it with others.
      ReleaseDocument(
          nlohmann::json::array({Asset("halvornlauncher.exe", 5, "sha256:" + kDigest, "u")})),
      ReleaseDocument(
          nlohmann::json::array({Asset("HalvornLauncher.exe.sig", 5, "sha256:" + kDigest, "u")})),
      ReleaseDocument("not an array"),
      ReleaseDocument({"HalvornLauncher.exe", 5}),
  };
  for (const nlohmann::json& document : documents) {
    SCOPED_TRACE(document.dump());
    Answer(document.dump());
    release_ = Release();
    release_.sha256 = "stale";
    ASSERT_TRUE(Fetch()) << error_;
    EXPECT_EQ(release_.tag_name, "v1.2");
    EXPECT_EQ(release_.browser_download_url, "");
    EXPECT_EQ(release_.sha256, "");  // the earlier value was reset
    EXPECT_EQ(release_.size, 0u);
  }
}

TEST_F(FetchLatest, DigestOfAnotherAlgorithmLeavesTheSha256Empty) {
  for (const std::string& digest : {"sha512:" + std::string(128, 'd'), std::string("sha256"),
                                   std::string("SHA256:") + kDigest, std::string("")}) {
    SCOPED_TRACE(digest);
    Answer(
        ReleaseDocument(nlohmann::json::array({Asset("HalvornLauncher.exe", 5, digest, "u")}))
            .dump());
    ASSERT_TRUE(Fetch()) << error_;
    EXPECT_EQ(release_.sha256, "");
    EXPECT_EQ(release_.browser_download_url, "u");
    EXPECT_EQ(release_.size, 5u);
  }
}

TEST_F(FetchLatest, ALaterMatchingAssetOverwritesAnEarlierOne) {
  nlohmann::json later = Asset("HalvornLauncher.exe", 9, "", "second");
  later["size"] = "nine";  // not an unsigned integer
  Answer(ReleaseDocument({Asset("HalvornLauncher.exe", 5, "sha256:" + kDigest, "first"), later})
             .dump());
  ASSERT_TRUE(Fetch()) << error_;
  EXPECT_EQ(release_.browser_download_url, "second");
  EXPECT_EQ(release_.size, 0u);
  EXPECT_EQ(release_.sha256, kDigest);  // the later one has no digest: the earlier stays
}

TEST_F(FetchLatest, AnswersThatAreNoRelease) {
  const std::string answers[] = {
      "[]", "[{\"tag_name\": \"v1\"}]", "\"v1.2\"", "null", "not json", "",
      R"({"message": "Not Found", "documentation_url": "https://docs.github.com/rest"})",
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer);
    Answer(answer);
    release_.tag_name = "kept";
    EXPECT_FALSE(Fetch());
    EXPECT_EQ(error_, "no published release");
    EXPECT_EQ(release_.tag_name, "kept");
  }
}

TEST_F(FetchLatest, EmptyOrWrongTypedTagFailsWithTheErrorUnchanged) {
  for (const nlohmann::json& tag : {nlohmann::json(""), nlohmann::json(12), nlohmann::json(nullptr)}) {
    SCOPED_TRACE(tag.dump());
    nlohmann::json document = ReleaseDocument(nlohmann::json::array());
    document["tag_name"] = tag;
    Answer(document.dump());
    error_ = "as the caller left it";
    EXPECT_FALSE(Fetch());
    EXPECT_EQ(error_, "as the caller left it");
    EXPECT_EQ(release_.name, "Version 1.2");
  }
}

TEST_F(FetchLatest, WrongTypedFieldsAreEmpty) {
  nlohmann::json document =
      ReleaseDocument(nlohmann::json::array({Asset("HalvornLauncher.exe", 5, "", "u")}));
  document["name"] = 3;
  document["body"] = nullptr;
  document["html_url"] = nlohmann::json::array({"x"});
  document["assets"][0]["browser_download_url"] = false;
  document["assets"][0]["digest"] = 256;
  Answer(document.dump());
  ASSERT_TRUE(Fetch()) << error_;
  EXPECT_EQ(release_.name, "");
  EXPECT_EQ(release_.body, "");
  EXPECT_EQ(release_.html_url, "");
  EXPECT_EQ(release_.browser_download_url, "");
  EXPECT_EQ(release_.sha256, "");
  EXPECT_EQ(release_.size, 5u);
}

TEST_F(FetchLatest, FailedFetchGivesItsError) {
  server_.Status(kApiPath, 404, "{\"message\": \"Not Found\"}");
  EXPECT_FALSE(Fetch());
  EXPECT_NE(error_, "");
  EXPECT_NE(error_, "no published release");
  EXPECT_EQ(server_.Count(kApiPath), 3);  // the text fetch tries three times
}

TEST_F(FetchLatest, RepositoryNotOnTheHostingService) {
  for (const std::string& repo : {std::string("https://gitlab.com/o/r.git"), server_.Url("/o")}) {
    SCOPED_TRACE(repo);
    game_.repo = repo;
    EXPECT_FALSE(Fetch());
    EXPECT_EQ(error_, "the game's repository is not on GitHub");
  }
  EXPECT_EQ(server_.TotalCount(), 0);
}

TEST(JsonStringField, OnlyTextMembersOfObjects) {
  const nlohmann::json object = {{"a", "text"}, {"n", 1}, {"o", {{"a", "x"}}}, {"z", nullptr}};
  EXPECT_EQ(JsonStringField(object, "a"), "text");
  EXPECT_EQ(JsonStringField(object, "n"), "");
  EXPECT_EQ(JsonStringField(object, "o"), "");
  EXPECT_EQ(JsonStringField(object, "z"), "");
  EXPECT_EQ(JsonStringField(object, "missing"), "");
  EXPECT_EQ(JsonStringField(nlohmann::json::array({"a"}), "a"), "");
  EXPECT_EQ(JsonStringField(nlohmann::json("a"), "a"), "");
  EXPECT_EQ(JsonStringField(nlohmann::json(), "a"), "");
}

TEST_F(FetchLatest, AStopEndsTheLookupAtOnceAndAFailingServerIsNamed) {
  const std::string body = std::string(4 << 20, 'r');
  for (const test::Misbehaviour& server : test::Misbehaviours(body)) {
    SCOPED_TRACE(server.name);
    server_.Route(kApiPath, server.reply);
    server_.ClearRecords();
    std::atomic<bool> cancel{false};
    bool ok = true;
    const auto stop_to_end =
        test::RunAndStop([&] { ok = FetchLatestRelease(*http_, game_, release_, error_, &cancel); },
                         cancel, [&] { return server.hangs && server_.Count(kApiPath) > 0; },
                         std::chrono::milliseconds(300));
    EXPECT_FALSE(ok);
    if (server.hangs) {
      ASSERT_TRUE(stop_to_end.has_value());
      // Far below the transport's own time-outs, with room for a loaded machine.
      EXPECT_LT(*stop_to_end, std::chrono::seconds(5));
      EXPECT_EQ(error_, kCancelled);
    } else if (server.reply.drop_after) {
      EXPECT_EQ(error_.rfind("the download stopped (", 0), 0u) << error_;
    } else {
      EXPECT_EQ(error_, "the server answered " + std::to_string(server.reply.status) + " for " +
                            server_.Url(kApiPath));
    }
  }
}

}  // namespace
}  // namespace launcher
