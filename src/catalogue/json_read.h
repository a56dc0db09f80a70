// Reading the JSON documents that come from outside (launcher.json, game.json, toolchain.json,
// the release JSON, Visual Studio's channel and manifest, the package description): parsing
// without exceptions and with a depth limit, then type-checked reading of members.
//
// Every document is read key by key with a default for an absent key. A member whose value has
// another type than the format expects is treated like an absent key, so a malformed document
// never throws (the library's value() and get() would) and never stops half-way: it gets its
// defaults and the document's own checks then decide. A document that is not an object has no
// members at all. Works for nlohmann::json and nlohmann::ordered_json alike.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::json_read {

// No document the launcher reads or writes nests arrays and objects anywhere near this deep.
// A deeper one is refused before it is parsed: the parser, the destructor and dump() recurse
// once per level, so thousands of levels would take seconds, gigabytes and a 1 MiB stack.
constexpr int kMaxDepth = 64;

// Whether the arrays and objects of `text` nest at most `limit` deep, counting brackets outside
// strings. Cheap and tolerant: on text that is not JSON it answers for the brackets it sees.
inline bool DepthWithin(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// The document in `text`, or a discarded value when it is not JSON or nests deeper than
// kMaxDepth. Never throws.
template <typename Json>
Json Parse(std::string_view text) {
  if (!DepthWithin(text, kMaxDepth)) return Json(Json::value_t::discarded);
  return Json::parse(text.begin(), text.end(), nullptr, false);
}

// The member `key` of `object`, or null when `object` is not an object or has no such member.
template <typename Json>
const Json* Member(const Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

template <typename Json>
std::string Text(const Json& object, const char* key, const std::string& fallback = "") {
  const Json* value = Member(object, key);
  if (value == nullptr || !value->is_string()) return fallback;
  return value->template get_ref<const std::string&>();
}

template <typename Json>
bool Bool(const Json& object, const char* key, bool fallback) {
  const Json* value = Member(object, key);
  if (value == nullptr || !value->is_boolean()) return fallback;
  return value->template get<bool>();
}

// An unsigned integer member; negative numbers and fractions are of another type. (A parsed
// text holds every integer from 0 up as unsigned; a value built in code may hold it signed.)
template <typename Json>
uint64_t Unsigned(const Json& object, const char* key, uint64_t fallback) {
  const Json* value = Member(object, key);
  if (value == nullptr || !value->is_number_integer()) return fallback;
  if (value->is_number_unsigned()) return value->template get<uint64_t>();
  const int64_t number = value->template get<int64_t>();
  return number < 0 ? fallback : uint64_t(number);
}

// An integer member (either sign), held to the range of int.
template <typename Json>
int Int(const Json& object, const char* key, int fallback) {
  const Json* value = Member(object, key);
  if (value == nullptr || !value->is_number_integer()) return fallback;
  if (value->is_number_unsigned()) {
    const uint64_t number = value->template get<uint64_t>();
    return number > uint64_t(INT_MAX) ? INT_MAX : int(number);
  }
  const int64_t number = value->template get<int64_t>();
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return int(number);
}

// The text elements of an array, in order; elements of other types are passed over.
template <typename Json>
std::vector<std::string> TextList(const Json& array) {
  std::vector<std::string> texts;
  if (!array.is_array()) return texts;
  for (const Json& element : array) {
    if (element.is_string()) texts.push_back(element.template get_ref<const std::string&>());
  }
  return texts;
}

// An array-of-texts member, or `fallback` when the member is absent or not an array.
template <typename Json>
std::vector<std::string> TextList(const Json& object, const char* key,
                                  const std::vector<std::string>& fallback) {
  const Json* value = Member(object, key);
  if (value == nullptr || !value->is_array()) return fallback;
  return TextList(*value);
}

// The member if it is an array, else null.
template <typename Json>
const Json* Array(const Json& object, const char* key) {
  const Json* value = Member(object, key);
  return value != nullptr && value->is_array() ? value : nullptr;
}

// The member if it is an object, else null.
template <typename Json>
const Json* Object(const Json& object, const char* key) {
  const Json* value = Member(object, key);
  return value != nullptr && value->is_object() ? value : nullptr;
}

}  // namespace launcher::json_read
