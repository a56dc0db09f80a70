// UTF-8 and wide text (UTF-16 here), system error texts and paths for comparing on Windows.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

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

namespace {

// The system's own name of an existing file or folder, links and junctions resolved, without
// the "\\?\" prefix; empty when it cannot be opened.
std::wstring FinalName(const std::filesystem::path& path) {
  const HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, name.data(), DWORD(name.size()), 0);
  if (length >= name.size()) {
    name.resize(length + 1);
    length = GetFinalPathNameByHandleW(handle, name.data(), DWORD(name.size()), 0);
  }
  CloseHandle(handle);
  if (length == 0 || length >= name.size()) return {};
  name.resize(length);
  if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + name.substr(8);
  if (name.rfind(L"\\\\?\\", 0) == 0) return name.substr(4);
  return name;
}

}  // namespace

std::filesystem::path ComparablePath(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path existing = std::filesystem::absolute(path, ec).lexically_normal();
  // The longest leading part that exists is resolved by the system; the rest stays as written.
  std::vector<std::filesystem::path> missing;
  std::wstring resolved = FinalName(existing);
  while (resolved.empty() && existing.has_relative_path()) {
    missing.push_back(existing.filename());
    existing = existing.parent_path();
    resolved = FinalName(existing);
  }
  std::filesystem::path result = resolved.empty() ? existing : std::filesystem::path(resolved);
  for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
    if (!part->empty()) result /= *part;
  }
  std::wstring text = result.lexically_normal().native();
  if (!text.empty()) {
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), int(text.size()),
                  text.data(), int(text.size()), nullptr, nullptr, 0);
  }
  return text;
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
