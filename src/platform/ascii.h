// ASCII-only text helpers: keys, digests, file names and extensions are compared and lower-cased
// byte by byte (or code unit by code unit), whatever the system's locale, so that every other
// character (UTF-8 included) stays as it is.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace launcher {

// A to Z become a to z; every other character, of any width, stays as it is.
template <typename Char>
  requires std::is_integral_v<Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

// a to z become A to Z; every other character stays as it is.
template <typename Char>
  requires std::is_integral_v<Char>
constexpr Char AsciiUpper(Char c) {
  return c >= Char('a') && c <= Char('z') ? Char(c - Char('a') + Char('A')) : c;
}

inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

// The same text once A to Z and a to z are taken as one.
inline bool AsciiEqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// `text` begins with `prefix` once A to Z and a to z are taken as one.
inline bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiEqualFolded(text.substr(0, prefix.size()), prefix);
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

inline bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace launcher
