#include "catalogue/toolchain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kSha(64, 'a');
const std::string kShaUpper(64, 'A');

// A toolchain.json with the given tool objects.
std::string Tools(const std::string& elements) { return R"({"tools": [)" + elements + "]}"; }

std::string ToolJson(const std::string& id, const std::string& extra = "") {
  return R"({"id": ")" + id + R"(", "url": "https://host/d/)" + id + R"(.zip", "sha256": ")" +
         kSha + "\"" + extra + "}";
}

TEST(Toolchain, ReadsEveryKey) {
  const std::string json = Tools(R"({"id": "llvm", "title": "Clang 19.1.7", "kind": "tar.xz",
      "url": "https://host/download/v1/clang%2Bllvm-19.1.7.tar.xz", "sha256": ")" +
                                 kShaUpper + R"(", "size": 845236708, "strip": 1,
      "keep": ["bin/clang.exe", "lib/clang/"], "optional": true})");
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(json, tools, error)) << error;
  ASSERT_EQ(tools.size(), 1u);
  const Tool& tool = tools[0];
  EXPECT_EQ(tool.id, "llvm");
  EXPECT_EQ(tool.title, "Clang 19.1.7");
  EXPECT_EQ(tool.kind, "tar.xz");
  EXPECT_EQ(tool.strip, 1);
  EXPECT_TRUE(tool.optional);
  EXPECT_THAT(tool.keep, ElementsAre("bin/clang.exe", "lib/clang/"));
  ASSERT_EQ(tool.files.size(), 1u);
  EXPECT_EQ(tool.files[0].name, "clang+llvm-19.1.7.tar.xz");  // %2B decoded
  EXPECT_EQ(tool.files[0].url, "https://host/download/v1/clang%2Bllvm-19.1.7.tar.xz");
  EXPECT_EQ(tool.files[0].sha256, kSha);  // lower-cased
  EXPECT_EQ(tool.files[0].size, 845236708u);
  EXPECT_THAT(tool.cabs, IsEmpty());
  EXPECT_EQ(tool.sha256, kSha + " bin/clang.exe lib/clang/");
  EXPECT_EQ(tool.TotalSize(), 845236708u);
}

TEST(Toolchain, AbsentKeysTakeTheirDefaults) {
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(Tools(ToolJson("ninja")), tools, error)) << error;
  ASSERT_EQ(tools.size(), 1u);
  EXPECT_EQ(tools[0].title, "ninja");
  EXPECT_EQ(tools[0].kind, "zip");
  EXPECT_EQ(tools[0].strip, 0);
  EXPECT_FALSE(tools[0].optional);
  EXPECT_THAT(tools[0].keep, IsEmpty());
  EXPECT_EQ(tools[0].files[0].size, 0u);
  EXPECT_EQ(tools[0].sha256, kSha);  // no keep patterns: the digest alone
}

TEST(Toolchain, AppendsInOrderAfterWhatIsThere) {
  std::vector<Tool> tools(1);
  tools[0].id = "earlier";
  std::string error;
  ASSERT_TRUE(ParseToolchain(Tools(ToolJson("a") + "," + ToolJson("b")), tools, error));
  ASSERT_EQ(tools.size(), 3u);
  EXPECT_EQ(tools[0].id, "earlier");
  EXPECT_EQ(tools[1].id, "a");
  EXPECT_EQ(tools[2].id, "b");
  ASSERT_TRUE(ParseToolchain(Tools(""), tools, error));  // no tools at all is fine
  EXPECT_EQ(tools.size(), 3u);
}

TEST(Toolchain, KeepOrderChangesTheStamp) {
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(Tools(ToolJson("a", R"(, "keep": ["x/", "y/"])") + "," +
                                   ToolJson("b", R"(, "keep": ["y/", "x/"])")),
                             tools, error));
  EXPECT_EQ(tools[0].sha256, kSha + " x/ y/");
  EXPECT_EQ(tools[1].sha256, kSha + " y/ x/");
}

TEST(Toolchain, FileNameIsTheUrlsLastPartDecoded) {
  const std::pair<std::string, std::string> cases[] = {
      {"https://host/a/b/c.zip", "c.zip"},
      {"https://host/a/x%20y%2Bz.zip", "x y+z.zip"},
      {"plain.zip", "plain.zip"},
      {"https://host/a/%zz.zip", "%zz.zip"},
  };
  for (const auto& [url, name] : cases) {
    std::vector<Tool> tools;
    std::string error;
    ASSERT_TRUE(ParseToolchain(
        Tools(R"({"id": "t", "url": ")" + url + R"(", "sha256": ")" + kSha + R"("})"), tools,
        error))
        << url << ": " << error;
    EXPECT_EQ(tools[0].files[0].name, name) << url;
  }
}

TEST(Toolchain, UnreadableDocuments) {
  for (const char* text : {"", "nope", "[]", "{}", R"({"tool": []})", R"({"tools": {}})",
                           R"({"tools": "x"})", "null"}) {
    SCOPED_TRACE(text);
    std::vector<Tool> tools;
    std::string error;
    EXPECT_FALSE(ParseToolchain(text, tools, error));
    EXPECT_EQ(error, "toolchain.json is not readable");
    EXPECT_THAT(tools, IsEmpty());
  }
}

TEST(Toolchain, ToolsThatLackWhatTheyNeed) {
  struct Case {
    std::string tool;
    std::string message;
  };
  const std::string sha63(63, 'a');
  const Case cases[] = {
      {R"({"id": "t", "url": "u", "sha256": ")" + sha63 + R"("})",
       "toolchain.json: tool t needs an id, a url and a sha256"},
      {R"({"id": "t", "url": "u", "sha256": ")" + kSha + R"(a"})",
       "toolchain.json: tool t needs an id, a url and a sha256"},
      {R"({"id": "t", "sha256": ")" + kSha + R"("})",
       "toolchain.json: tool t needs an id, a url and a sha256"},
      {R"({"url": "u", "sha256": ")" + kSha + R"("})",
       "toolchain.json: tool  needs an id, a url and a sha256"},
      {R"({"id": "t", "url": "u"})", "toolchain.json: tool t needs an id, a url and a sha256"},
      {R"({"id": 7, "url": "u", "sha256": ")" + kSha + R"("})",
       "toolchain.json: tool  needs an id, a url and a sha256"},
      {R"("a text")", "toolchain.json: tool  needs an id, a url and a sha256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    std::vector<Tool> tools;
    std::string error;
    EXPECT_FALSE(ParseToolchain(Tools(ToolJson("first") + "," + c.tool + "," + ToolJson("last")),
                                tools, error));
    EXPECT_EQ(error, c.message);
    ASSERT_EQ(tools.size(), 1u);  // the tools before it stay appended
    EXPECT_EQ(tools[0].id, "first");
  }
}

// The id names the tool's folder and the url's last part its download: neither may lead out of
// the folders they are meant for, whatever a fetched description says.
TEST(Toolchain, IdsAndFileNamesThatWouldLeadElsewhereAreRefused) {
  const std::string cases[] = {
      R"({"id": "..", "url": "https://h/a.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "a/b", "url": "https://h/a.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "a\\b", "url": "https://h/a.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "c:x", "url": "https://h/a.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "t", "url": "https://h/..%2F..%2Fx.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "t", "url": "https://h/a%5Cb.zip", "sha256": ")" + kSha + R"("})",
      R"({"id": "t", "url": "https://h/%2E%2E", "sha256": ")" + kSha + R"("})",
      R"({"id": "t", "url": "https://h/dir/", "sha256": ")" + kSha + R"("})",
      R"({"id": "t", "url": "https://h/a%00.zip", "sha256": ")" + kSha + R"("})",
  };
  for (const std::string& tool : cases) {
    SCOPED_TRACE(tool);
    std::vector<Tool> tools;
    std::string error;
    EXPECT_FALSE(ParseToolchain(Tools(tool), tools, error));
    EXPECT_THAT(error, ::testing::EndsWith(" has an unsafe id or file name"));
    EXPECT_THAT(tools, IsEmpty());
  }
}

// Values of other types than the format's count as absent; they never throw.
TEST(Toolchain, WrongTypesCountAsAbsent) {
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(
      Tools(ToolJson("t", R"(, "title": 1, "kind": [], "size": -5, "strip": "2",
                            "optional": "yes", "keep": "bin/")") +
            "," + ToolJson("u", R"(, "size": 1.5, "strip": 2.5, "keep": ["a/", 3, "b/"])")),
      tools, error))
      << error;
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_EQ(tools[0].title, "t");
  EXPECT_EQ(tools[0].kind, "zip");
  EXPECT_EQ(tools[0].files[0].size, 0u);
  EXPECT_EQ(tools[0].strip, 0);
  EXPECT_FALSE(tools[0].optional);
  EXPECT_THAT(tools[0].keep, IsEmpty());
  EXPECT_EQ(tools[1].files[0].size, 0u);
  EXPECT_EQ(tools[1].strip, 0);
  EXPECT_THAT(tools[1].keep, ElementsAre("a/", "b/"));  // the text elements, in order
  EXPECT_EQ(tools[1].sha256, kSha + " a/ b/");
}

TEST(Toolchain, NegativeAndHugeStripCounts) {
  std::vector<Tool> tools;
  std::string error;
  ASSERT_TRUE(ParseToolchain(Tools(ToolJson("a", R"(, "strip": -1)") + "," +
                                   ToolJson("b", R"(, "strip": 99999999999)")),
                             tools, error));
  EXPECT_EQ(tools[0].strip, -1);
  EXPECT_EQ(tools[1].strip, 2147483647);
}

TEST(Toolchain, TotalSizeCountsFilesAndCabs) {
  Tool tool;
  EXPECT_EQ(tool.TotalSize(), 0u);
  tool.files = {{"a", "", "", 5}, {"b", "", "", 1ull << 40}};
  tool.cabs = {{"c", "", "", 7}};
  EXPECT_EQ(tool.TotalSize(), (1ull << 40) + 12);
}

}  // namespace
}  // namespace launcher
