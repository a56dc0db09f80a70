#include "catalogue/game_description.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr const char* kSha = "0123456789abcdef0123456789abcdef01234567";
constexpr const char* kNeedsMessage =
    "game.json needs a title, a short name, a repo and its releases";

// The smallest valid description, with extra members spliced in before the closing brace.
std::string Minimal(const std::string& extra = "") {
  return std::string(R"({"title": "T", "short": "S", "repo": "https://github.com/o/r.git",)") +
         R"( "releases": {")" + kSha + R"(": "USA"})" + extra + "}";
}

TEST(GameDescription, DefaultConstructedHoldsOnlyTheDevVersion) {
  const GameDescription game;
  EXPECT_EQ(game.launcher_version, "dev");
  EXPECT_EQ(game.title, "");
  EXPECT_EQ(game.xbe, "");
  EXPECT_EQ(game.branch, "");
  EXPECT_FALSE(game.music);
  EXPECT_THAT(game.xbes, IsEmpty());
  EXPECT_THAT(game.releases, IsEmpty());
}

TEST(GameDescription, ReadsEveryKey) {
  const std::string json = R"({
    "title": "Zemrik: Halvorn", "short": "Halvorn", "exe": "HalvornGame", "xbe": "game.xbe",
    "releases": {"ABCDEF0123456789abcdef0123456789ABCDEF01": "USA, Europe", ")" +
                           std::string(kSha) + R"(": "Japan"},
    "repo": "https://github.com/o/r.git", "branch": "next",
    "toolchain": "https://example.invalid/toolchain.json",
    "package": "p.zip", "packages": {"AA": "a.zip", "bb": "b.zip"}, "music": true,
    "xbes": ["game.xbe", "extra.xbe"], "exes": ["HalvornGame", "Tool"],
    "release_xbes": {"AA": ["x.xbe", "y.xbe"]}
  })";
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(json, game, error)) << error;
  EXPECT_EQ(game.title, "Zemrik: Halvorn");
  EXPECT_EQ(game.short_name, "Halvorn");
  EXPECT_EQ(game.exe, "HalvornGame");
  EXPECT_EQ(game.xbe, "game.xbe");
  EXPECT_THAT(game.releases,
              ElementsAre(Pair(kSha, "Japan"),
                          Pair("abcdef0123456789abcdef0123456789abcdef01", "USA, Europe")));
  EXPECT_EQ(game.repo, "https://github.com/o/r.git");
  EXPECT_EQ(game.branch, "next");
  EXPECT_EQ(game.toolchain, "https://example.invalid/toolchain.json");
  EXPECT_EQ(game.package, "p.zip");
  EXPECT_THAT(game.packages, ElementsAre(Pair("aa", "a.zip"), Pair("bb", "b.zip")));
  EXPECT_TRUE(game.music);
  EXPECT_THAT(game.xbes, ElementsAre("game.xbe", "extra.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("HalvornGame", "Tool"));
  EXPECT_THAT(game.release_xbes, ElementsAre(Pair("aa", ElementsAre("x.xbe", "y.xbe"))));
  EXPECT_EQ(game.launcher_version, "dev");  // only start-up sets the launcher's version
}

TEST(GameDescription, AbsentKeysTakeTheirDefaults) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(Minimal(), game, error)) << error;
  EXPECT_EQ(game.exe, "S");  // the short name
  EXPECT_EQ(game.xbe, "default.xbe");
  EXPECT_EQ(game.branch, "main");
  EXPECT_EQ(game.toolchain, "");
  EXPECT_EQ(game.package, "");
  EXPECT_THAT(game.packages, IsEmpty());
  EXPECT_FALSE(game.music);
  EXPECT_THAT(game.xbes, ElementsAre("default.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("S"));
  EXPECT_THAT(game.release_xbes, IsEmpty());
}

TEST(GameDescription, EmptyNameListsGetTheirOneName) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(Minimal(R"(, "xbe": "a.xbe", "exe": "A", "xbes": [], "exes": [])"),
                                   game, error))
      << error;
  EXPECT_THAT(game.xbes, ElementsAre("a.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("A"));
}

TEST(GameDescription, MapKeysAreLowerCasedAsciiOnly) {
  GameDescription game;
  std::string error;
  // Upper-case hexadecimal matches the lowercase digest identification computes; a non-ASCII
  // byte ("\u00C4", two bytes in UTF-8) is left as it is.
  ASSERT_TRUE(ParseGameDescription(
      R"({"title": "T", "short": "S", "repo": "R",
          "releases": {"0123456789ABCDEF0123456789ABCDEF01234567": "USA", "X\u00C4": "odd"}})",
      game, error))
      << error;
  EXPECT_THAT(game.releases, ElementsAre(Pair(kSha, "USA"), Pair("x\xC3\x84", "odd")));
}

TEST(GameDescription, LaterMemberOfTheSameLowerCasedNameWins) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(Minimal(R"(, "packages": {"ab": "first.zip", "AB": "second.zip"})"),
                                   game, error));
  EXPECT_THAT(game.packages, ElementsAre(Pair("ab", "second.zip")));
  ASSERT_TRUE(ParseGameDescription(Minimal(R"(, "packages": {"AB": "first.zip", "ab": "second.zip"})"),
                                   game, error));
  EXPECT_THAT(game.packages, ElementsAre(Pair("ab", "second.zip")));
}

TEST(GameDescription, InvalidJsonLeavesTheDescriptionUntouched) {
  GameDescription game;
  game.title = "kept";
  std::string error;
  for (const char* text : {"", "{", "{\"title\": }", "not json", "{\"a\": 1} trailing"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseGameDescription(text, game, error));
    EXPECT_EQ(error, "game.json is not readable");
    EXPECT_EQ(game.title, "kept");
  }
}

TEST(GameDescription, APackageNameMustBeAPlainFileName) {
  const struct {
    std::string extra;
    std::string bad;  // "" = accepted
  } cases[] = {
      {R"(, "package": "Halvorn-package.zip")", ""},
      {R"(, "package": "")", ""},
      {R"(, "packages": {"ab": "Halvorn-eu.zip", "cd": ""})", ""},
      {R"(, "package": "../Halvorn.zip")", "../Halvorn.zip"},
      {R"(, "package": "..")", ".."},
      {R"(, "package": "C:x.zip")", "C:x.zip"},
      {R"(, "package": "dir\\x.zip")", "dir\\x.zip"},
      {R"(, "packages": {"ab": "ok.zip", "cd": "sub/x.zip"})", "sub/x.zip"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    GameDescription game;
    std::string error;
    EXPECT_EQ(ParseGameDescription(Minimal(c.extra), game, error), c.bad.empty());
    if (!c.bad.empty()) {
      EXPECT_EQ(error, "game.json names a package that is not a plain file name: " + c.bad);
    }
  }
}

TEST(GameDescription, MissingRequiredPartsFailWithOneSentence) {
  struct Case {
    const char* name;
    std::string json;
  };
  const std::string releases = std::string(R"("releases": {")") + kSha + R"(": "USA"})";
  const Case cases[] = {
      {"no title", R"({"short": "S", "repo": "R", )" + releases + "}"},
      {"empty title", R"({"title": "", "short": "S", "repo": "R", )" + releases + "}"},
      {"no short name", R"({"title": "T", "repo": "R", )" + releases + "}"},
      {"no repo", R"({"title": "T", "short": "S", )" + releases + "}"},
      {"no releases", R"({"title": "T", "short": "S", "repo": "R"})"},
      {"empty releases", R"({"title": "T", "short": "S", "repo": "R", "releases": {}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GameDescription game;
    std::string error;
    EXPECT_FALSE(ParseGameDescription(c.json, game, error));
    EXPECT_EQ(error, kNeedsMessage);
  }
}

TEST(GameDescription, FieldsReadStayAfterAFailedCheck) {
  GameDescription game;
  std::string error;
  EXPECT_FALSE(ParseGameDescription(R"({"title": "T", "short": "S"})", game, error));
  EXPECT_EQ(game.title, "T");
  EXPECT_EQ(game.exe, "S");
  EXPECT_EQ(game.branch, "main");
}

// Values of other types than the format's never throw: such a member counts as absent.
TEST(GameDescription, WrongTypesCountAsAbsent) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(
      Minimal(R"(, "exe": 5, "xbe": ["x"], "branch": null, "toolchain": {}, "music": "yes",
                 "package": false, "packages": ["a.zip"], "xbes": "a.xbe", "exes": {"a": 1},
                 "release_xbes": [["x"]])"),
      game, error))
      << error;
  EXPECT_EQ(game.exe, "S");
  EXPECT_EQ(game.xbe, "default.xbe");
  EXPECT_EQ(game.branch, "main");
  EXPECT_EQ(game.toolchain, "");
  EXPECT_FALSE(game.music);
  EXPECT_EQ(game.package, "");
  EXPECT_THAT(game.packages, IsEmpty());  // an array, not an object: ignored
  EXPECT_THAT(game.xbes, ElementsAre("default.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("S"));
  EXPECT_THAT(game.release_xbes, IsEmpty());
}

TEST(GameDescription, WrongTypedMembersAndElementsArePassedOver) {
  GameDescription game;
  std::string error;
  ASSERT_TRUE(ParseGameDescription(
      Minimal(R"(, "packages": {"aa": 1, "bb": "b.zip"}, "xbes": [1, "a.xbe", null],
                 "exes": [true], "release_xbes": {"aa": "x.xbe", "bb": ["y.xbe", 2]})"),
      game, error))
      << error;
  EXPECT_THAT(game.packages, ElementsAre(Pair("bb", "b.zip")));
  EXPECT_THAT(game.xbes, ElementsAre("a.xbe"));
  EXPECT_THAT(game.exes, ElementsAre("S"));  // nothing usable left: the one default name
  EXPECT_THAT(game.release_xbes, ElementsAre(Pair("bb", ElementsAre("y.xbe"))));
}

TEST(GameDescription, WrongTypedRequiredPartsFail) {
  const std::string releases = std::string(R"("releases": {")") + kSha + R"(": "USA"})";
  const std::string cases[] = {
      R"({"title": 5, "short": "S", "repo": "R", )" + releases + "}",
      R"({"title": "T", "short": ["S"], "repo": "R", )" + releases + "}",
      R"({"title": "T", "short": "S", "repo": true, )" + releases + "}",
      R"({"title": "T", "short": "S", "repo": "R", "releases": [")" + std::string(kSha) + R"("]})",
      R"({"title": "T", "short": "S", "repo": "R", "releases": {")" + std::string(kSha) +
          R"(": 1}})",
  };
  for (const std::string& json : cases) {
    SCOPED_TRACE(json);
    GameDescription game;
    std::string error;
    EXPECT_FALSE(ParseGameDescription(json, game, error));
    EXPECT_EQ(error, kNeedsMessage);
  }
}

TEST(GameDescription, DocumentThatIsNotAnObjectFailsWithItsDefaults) {
  for (const char* text : {"[]", "[1, 2]", "\"title\"", "42", "null", "true"}) {
    SCOPED_TRACE(text);
    GameDescription game;
    std::string error;
    EXPECT_FALSE(ParseGameDescription(text, game, error));
    EXPECT_EQ(error, kNeedsMessage);
    EXPECT_EQ(game.xbe, "default.xbe");
    EXPECT_THAT(game.xbes, ElementsAre("default.xbe"));
  }
}

}  // namespace
}  // namespace launcher
