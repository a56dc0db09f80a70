// The platform layer's portable text functions: argument quoting for Windows command lines, the
// shape of system error messages, byte counts for the player, the messages and command lines
// that the platforms' implementations of Platform build, and the comparison of two paths.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace fs = std::filesystem;

namespace {

bool NeedsQuotes(std::wstring_view arg) {
  return arg.empty() || arg.find_first_of(L" \t\"") != std::wstring_view::npos;
}

}  // namespace

std::wstring QuoteArg(std::wstring_view arg) {
  if (!NeedsQuotes(arg)) return std::wstring(arg);
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote escape it: double them and add one for the quote itself.
    // Elsewhere they stand for themselves.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  // Before the closing quote they are doubled, so that the quote still closes the argument.
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

bool PathIsWithin(const fs::path& inner, const fs::path& outer) {
  // A trailing separator makes an empty last part, which names nothing.
  const auto parts = [](const fs::path& path) {
    std::vector<fs::path> named;
    for (const fs::path& part : ComparablePath(path)) {
      if (!part.empty()) named.push_back(part);
    }
    return named;
  };
  const std::vector<fs::path> inside = parts(inner);
  const std::vector<fs::path> around = parts(outer);
  return around.size() <= inside.size() && std::equal(around.begin(), around.end(), inside.begin());
}

std::wstring JoinCommandLine(const std::vector<std::string>& args) {
  std::wstring line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line.push_back(L' ');
    line += QuoteArg(Utf8ToWide(args[i]));
  }
  return line;
}

std::string FormatSystemError(const char* text, std::uint32_t code, std::string_view words) {
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) {
    words.remove_suffix(1);
  }
  std::string message = text;
  message += " (" + std::to_string(code);
  if (!words.empty()) {
    message += ": ";
    message += words;
  }
  message += ")";
  return message;
}

std::string FormatSize(uint64_t bytes) {
  constexpr uint64_t kGiB = 1073741824;
  const bool giga = bytes >= kGiB;
  char text[32];
  const int length = std::snprintf(text, sizeof text, giga ? "%.1f GB" : "%.0f MB",
                                   static_cast<double>(bytes) / (giga ? kGiB : 1048576.0));
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

std::string LastErrorText(const char* text) {
  const std::uint32_t code = LastErrorCode();
  return FormatSystemError(text, code, SystemErrorWords(code));
}

std::string LastErrorWords() {
  const std::uint32_t code = LastErrorCode();
  std::string words = SystemErrorWords(code);
  while (!words.empty() && (words.back() == '\r' || words.back() == '\n' ||
                            words.back() == ' ' || words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "error " + std::to_string(code) : words;
}

fs::path MsiLogPath(const fs::path& msi, const fs::path& target) {
  fs::path::string_type folder = target.native();
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == fs::path::preferred_separator)) {
    folder.pop_back();
  }
  fs::path log = fs::path(folder).parent_path();
  log /= msi.stem().native() + fs::path(".msiexec.log").native();
  return log;
}

std::wstring MsiexecCommandLine(const fs::path& msi, const fs::path& target, const fs::path& log) {
  std::wstring target_text = target.wstring();
  while (!target_text.empty() && target_text.back() == L'\\') target_text.pop_back();
  return L"msiexec.exe /a \"" + msi.wstring() + L"\" /qn /norestart TARGETDIR=\"" + target_text +
         L"\" /L*v \"" + log.wstring() + L"\"";
}

std::string MsiExtractError(const fs::path& msi, const char* tool, int code, const fs::path& log) {
  return "Could not extract " + PathToUtf8(msi.filename()) + " (" + tool + " " +
         std::to_string(code) + ", see " + PathToUtf8(log) + ")";
}

std::string LinkFolderError(const std::string& output) {
  return "Could not link the game's folder: " + output;
}

namespace {

// The native text of a path is UTF-8 bytes on POSIX and UTF-16 on Windows.
template <typename Text>
std::string NativeToUtf8(const Text& native) {
  if constexpr (std::is_same_v<typename Text::value_type, char>) {
    return native;
  } else {
    return WideToUtf8(native);
  }
}

template <typename Text>
Text Utf8ToNative(std::string_view text) {
  if constexpr (std::is_same_v<typename Text::value_type, char>) {
    return Text(text);
  } else {
    return Utf8ToWide(text);
  }
}

}  // namespace

std::string PathToUtf8(const fs::path& path) { return NativeToUtf8(path.native()); }

fs::path PathFromUtf8(std::string_view text) {
  return fs::path(Utf8ToNative<fs::path::string_type>(text));
}

}  // namespace launcher
