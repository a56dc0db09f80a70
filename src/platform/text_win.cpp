// UTF-8 and wide text (UTF-16 here) and system error texts on Windows.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/platform_detail.h"

namespace launcher {

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(std::size_t(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(std::size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), length, nullptr,
                      nullptr);
  return out;
}

std::uint32_t LastErrorCode() { return static_cast<std::uint32_t>(GetLastError()); }

std::string SystemErrorWords(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string words;
  if (buffer != nullptr) {
    words = WideToUtf8(std::wstring_view(buffer, length));
    LocalFree(buffer);
  }
  return words;
}

}  // namespace launcher
