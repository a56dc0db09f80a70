// UTF-8 and wide text (UTF-32 here), system error texts and paths for comparing on POSIX
// systems.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/platform.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The number of continuation bytes a lead byte announces and the range its first continuation
// byte must fall in (which rules out overlong forms, surrogates and values past U+10FFFF);
// 0 continuation bytes for a byte that cannot start a sequence.
struct Lead {
  int continuation;
  unsigned char low;
  unsigned char high;
};

Lead ClassifyLead(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {1, 0x80, 0xBF};
  if (byte == 0xE0) return {2, 0xA0, 0xBF};
  if (byte == 0xED) return {2, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {2, 0x80, 0xBF};
  if (byte == 0xF0) return {3, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {3, 0x80, 0xBF};
  if (byte == 0xF4) return {3, 0x80, 0x8F};
  return {0, 0, 0};
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

}  // namespace

// Each ill-formed piece (the longest start of a valid sequence, or else one byte) becomes one
// replacement character, as the Unicode standard recommends.
std::wstring Utf8ToWide(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      wide.push_back(wchar_t(byte));
      ++i;
      continue;
    }
    const Lead lead = ClassifyLead(byte);
    std::size_t next = i + 1;
    if (lead.continuation == 0) {
      wide.push_back(wchar_t(kReplacement));
      i = next;
      continue;
    }
    std::uint32_t code = byte & (0x3F >> lead.continuation);
    int taken = 0;
    while (taken < lead.continuation && next < text.size()) {
      const auto c = static_cast<unsigned char>(text[next]);
      const unsigned char low = taken == 0 ? lead.low : 0x80;
      const unsigned char high = taken == 0 ? lead.high : 0xBF;
      if (c < low || c > high) break;
      code = (code << 6) | (c & 0x3F);
      ++next;
      ++taken;
    }
    wide.push_back(wchar_t(taken == lead.continuation ? code : kReplacement));
    i = next;
  }
  return wide;
}

// Surrogate code points and values past U+10FFFF are not characters: each becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t w : text) {
    std::uint32_t c = static_cast<std::uint32_t>(w);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::filesystem::path ComparablePath(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  // Names differ by letter case here, so resolving the links is all there is to do.
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
  return (ec ? absolute : resolved).lexically_normal();
}

std::uint32_t LastErrorCode() { return static_cast<std::uint32_t>(errno); }

std::string SystemErrorWords(std::uint32_t code) {
  // The English description, or none for a number the system does not know.
  const char* words = strerrordesc_np(static_cast<int>(code));
  return words != nullptr ? words : "";
}

}  // namespace launcher
