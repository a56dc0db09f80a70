// Parsing outside documents with a depth limit, and reading their members by type.
#include "catalogue/json_read.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

namespace launcher {
namespace {

using nlohmann::json;

std::string Nested(int depth, const std::string& inner = "1") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(JsonRead, DepthCountsOnlyBracketsOutsideStrings) {
  const struct {
    std::string text;
    int limit;
    bool within;
  } cases[] = {
      {"{}", 1, true},
      {"{\"a\": [1]}", 1, false},
      {"{\"a\": [1]}", 2, true},
      {"[[[\"]]]]]]]\"]]]", 3, true},           // brackets inside a string do not count
      {"[\"\\\"[[[[\"]", 1, true},              // nor after an escaped quote
      {"[\"\\\\\", [[]]]", 2, false},           // an escaped backslash ends no string
      {"\"[[[[\"", 0, true},
      {"not json [[", 1, false},
      {"]]]][[", 2, true},
      {"", 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json_read::DepthWithin(c.text, c.limit), c.within) << c.text << " within " << c.limit;
  }
}

TEST(JsonRead, ADocumentDeeperThanTheLimitIsNotRead) {
  const json at_limit = json_read::Parse<json>(Nested(json_read::kMaxDepth));
  EXPECT_TRUE(at_limit.is_array());
  EXPECT_TRUE(json_read::Parse<json>(Nested(json_read::kMaxDepth + 1)).is_discarded());
  EXPECT_TRUE(json_read::Parse<nlohmann::ordered_json>(Nested(200000)).is_discarded());
  // Deep text inside a string is only text.
  const json text = json_read::Parse<json>("{\"a\": \"" + std::string(100000, '[') + "\"}");
  EXPECT_EQ(json_read::Text(text, "a").size(), 100000u);
  EXPECT_TRUE(json_read::Parse<json>("{\"a\": ").is_discarded());
}

}  // namespace
}  // namespace launcher
