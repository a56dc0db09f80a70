// Type-checked reading of JSON members for the catalogue's documents.
//
// Every document is read key by key with a default for an absent key. A member whose value has
// another type than the format expects is treated like an absent key, so a malformed document
// never throws (the library's value() and get() would) and never stops half-way: it gets its
// defaults and the document's own checks then decide. A document that is not an object has no
// members at all. Works for nlohmann::json and nlohmann::ordered_json alike.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace launcher::json_read {

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
