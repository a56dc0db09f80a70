// The one seam between the launcher and the operating system for everything that is not plain
// file access: child processes, Windows Installer packages, folder and file links, starting the
// game, and the environment. CreatePlatform gives the implementation for the system being built.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Receives each line of a child's output (raw bytes, never empty) or of a log.
using LineSink = std::function<void(const std::string&)>;

class Platform {
 public:
  virtual ~Platform() = default;

  // Runs a program with its arguments (args[0] is the program, found through the launcher's PATH
  // when it is a bare name) in `cwd` (the launcher's current folder when empty), hidden, and hands
  // each line of its combined standard output and standard error to `sink` (may be empty) as it
  // arrives: the raw bytes, cut at every CR or LF, never an empty line. `env` goes on top of the
  // launcher's own environment (names compared without case on Windows, exactly elsewhere; an
  // empty value leaves the variable set and empty). Setting `cancel` (may be null) kills the
  // whole tree within about 100 ms. Returns the exit code, or -1 when the child could not start
  // (`sink` then gets one line, "cannot start " + the command line in the LastErrorText form)
  // or `cancel` is set when the run ends; once it returns, no process of the tree is running.
  virtual int Run(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                  const std::map<std::string, std::string>& env, const LineSink& sink,
                  const std::atomic<bool>* cancel) = 0;

  // Unpacks the files of a Windows Installer package (its .cab files beside it) into `target`
  // (msiexec's administrative install on Windows, msiextract elsewhere). The tool's log goes
  // beside the target folder, named after the package with ".msiexec.log". On failure: "Could
  // not extract " + the package's file name + " (" + tool + " " + exit code + ", see " + log + ")".
  virtual bool ExtractMsi(const std::filesystem::path& msi, const std::filesystem::path& target,
                          std::string& error) = 0;

  // Makes `link` a folder link to `target` (a junction on Windows, a symbolic link elsewhere).
  // On failure: "Could not link the game's folder: " + what the system said, each line ending in
  // a line feed.
  virtual bool LinkFolder(const std::filesystem::path& link, const std::filesystem::path& target,
                          std::string& error) = 0;

  // Makes `link` a hard link to the existing file `existing`; false when the system would not.
  virtual bool HardLink(const std::filesystem::path& link,
                        const std::filesystem::path& existing) = 0;

  // Starts a program (without arguments) in `cwd` and returns at once; the program runs on its
  // own, outside the launcher's process tree. On failure: LastErrorText of "Could not start the
  // game".
  virtual bool StartGame(const std::filesystem::path& exe, const std::filesystem::path& cwd,
                         std::string& error) = 0;

  // ".exe" on Windows, "" elsewhere.
  virtual std::string ExeSuffix() = 0;

  // ';' on Windows, ':' elsewhere.
  virtual char PathListSeparator() = 0;

  // The value of an environment variable; "" when unset or empty.
  virtual std::string GetEnv(const std::string& name) = 0;
};

std::unique_ptr<Platform> CreatePlatform();

// `text` followed by " (code: system words)" for the calling thread's last system error
// (GetLastError on Windows, errno elsewhere), or " (code)" when the system has no words for it.
// Call it before anything else can change that error.
std::string LastErrorText(const char* text);

// A byte count for the player: "%.0f MB" below 1 GiB, "%.1f GB" from there (binary units).
std::string FormatSize(uint64_t bytes);

// UTF-8 to wide text and back (UTF-16 on Windows, UTF-32 elsewhere); invalid sequences become
// U+FFFD and embedded NUL characters survive.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// A path as UTF-8 text (for messages, logs and launcher.json) and back, without the locale
// conversions of path::string() that may throw.
std::string PathToUtf8(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view text);

// A path in the form in which the file system tells two paths apart, for comparing them, never
// for showing or opening: absolute, with every link (or junction) resolved as far as the path
// exists, "." and ".." gone, and on Windows, whose names ignore letter case, in upper case.
std::filesystem::path ComparablePath(const std::filesystem::path& path);

// Whether `inner` is `outer` itself or lies somewhere inside it, compared as ComparablePath.
bool PathIsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer);

// Quotes one argument so that the Windows command-line splitter (CommandLineToArgvW) gives it
// back unchanged: an argument without space, tab or double quote stays as it is.
std::wstring QuoteArg(std::wstring_view arg);

}  // namespace launcher
