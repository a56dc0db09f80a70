// Helpers shared by the platform implementations of Platform; not for use outside
// src/platform. Everything here is portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace launcher {

// `text`, " (", the code in unsigned decimal, then ": " and `words` when `words` is not empty
// once its trailing line feeds, carriage returns and spaces are cut, then ")". The one shape of
// every system error message, whatever system supplied the code and the words.
std::string FormatSystemError(const char* text, std::uint32_t code, std::string_view words);

// The calling thread's last system error: GetLastError on Windows, errno elsewhere.
std::uint32_t LastErrorCode();

// The system's own words for an error code of LastErrorCode's kind; "" when it has none.
std::string SystemErrorWords(std::uint32_t code);

// The words for the last system error made to fit inside a sentence (no line end, no closing
// full stop), or "error " + the code when the system has none.
std::string LastErrorWords();

// The arguments as one Windows command line: each converted to wide text, quoted with
// QuoteArg and joined with single spaces.
std::wstring JoinCommandLine(const std::vector<std::string>& args);

// Where ExtractMsi writes the installer's log: beside the target folder (never inside it), named
// after the package's stem with ".msiexec.log". Trailing separators of `target` are ignored.
std::filesystem::path MsiLogPath(const std::filesystem::path& msi,
                                 const std::filesystem::path& target);

// The administrative install that unpacks `msi` into `target` (every trailing backslash of
// the target removed), logging verbosely to `log`: the whole msiexec command line.
std::wstring MsiexecCommandLine(const std::filesystem::path& msi,
                                const std::filesystem::path& target,
                                const std::filesystem::path& log);

// "Could not extract " + the package's file name + " (" + tool + " " + code + ", see " + log + ")".
std::string MsiExtractError(const std::filesystem::path& msi, const char* tool, int code,
                            const std::filesystem::path& log);

// The message of a folder link that could not be made: "Could not link the game's folder: "
// followed by the collected output.
std::string LinkFolderError(const std::string& output);

// Cuts a child's output into lines as the bytes arrive: every carriage return and every line
// feed ends a line, empty lines are dropped, and no line has a length limit.
class LineSplitter {
 public:
  explicit LineSplitter(const LineSink& sink) : sink_(sink) {}

  // Takes the next piece of output; hands every line it completes to the sink.
  void Feed(const char* bytes, std::size_t count);
  // The output has ended: hands over the unfinished last line, if any.
  void Finish();

 private:
  void Deliver();

  const LineSink& sink_;
  std::string line_;
};

}  // namespace launcher
