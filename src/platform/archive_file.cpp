#include "platform/archive_file.h"

#include <system_error>

#include "platform/ascii.h"
#include "platform/platform.h"
#include "platform/platform_detail.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// The temporary's name: short, so that it fits wherever the file's own name fits, and the same
// for every file, since each is renamed away before the next is started. A name already taken
// (by an entry of the archive itself, or by the temporary of an unpack that was ended) is left
// alone, and a numbered one is tried instead.
constexpr int kTemporaryNames = 100;

// The temporary beside `file`, as the system's text: the names are built as plain text, without
// taking a path apart, since this runs once for every file an unpack writes.
fs::path::string_type TemporaryName(const fs::path::string_type& file, int attempt) {
  static constexpr fs::path::value_type kSeparators[] = {'/', fs::path::preferred_separator, 0};
  const std::string name =
      ".launcher-unpack" + (attempt == 0 ? std::string() : "-" + std::to_string(attempt)) + ".tmp";
  const size_t slash = file.find_last_of(kSeparators);
  const size_t folder = slash == fs::path::string_type::npos ? 0 : slash + 1;
  return file.substr(0, folder) + fs::path::string_type(name.begin(), name.end());
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::is_open() const { return handle_ != -1; }

bool OutputFile::Open(const fs::path& path, bool executable) {
  Discard();
  path_ = path.native();
  for (int attempt = 0; attempt < kTemporaryNames; ++attempt) {
    temp_ = TemporaryName(path_, attempt);
    if (temp_ == path_) continue;  // the file itself is named like a temporary
    const Opened opened = OpenTemporary(executable);
    if (opened == Opened::kYes) return true;
    if (opened == Opened::kFailed) break;
  }
  error_ = LastErrorCode();
  temp_.clear();
  return false;
}

bool OutputFile::WriteWhole(const fs::path& path, bool executable, const void* data, size_t size) {
  Discard();
  path_ = path.native();
  temp_ = path_;  // the file is its own temporary: a failure removes it
  const Opened opened = OpenTemporary(executable);
  if (opened == Opened::kNameTaken) {
    temp_.clear();
    return Open(path, executable) && Write(data, size) && Commit();
  }
  if (opened == Opened::kFailed) {
    error_ = LastErrorCode();
    temp_.clear();
    return false;
  }
  if (!Write(data, size)) return false;
  if (!CloseFile()) return Fail();
  temp_.clear();
  return true;
}

bool OutputFile::Commit() {
  if (!is_open()) return true;
  if (!CloseFile() || !RenameIntoPlace()) return Fail();
  temp_.clear();
  return true;
}

void OutputFile::Discard() {
  if (temp_.empty()) return;
  CloseFile();
  RemoveTemporary();
  temp_.clear();
}

bool OutputFile::Fail() {
  error_ = LastErrorCode();
  Discard();
  return false;
}

std::string OutputFile::ErrorText(const std::string& text) const {
  const std::string words = SystemErrorWords(error_);
  std::string message = FormatSystemError(text.c_str(), error_, words);
  if (IsDiskFullError(error_)) message += DiskFullHint(words);
  return message;
}

std::string DiskFullHint(const std::string& words) {
  const std::string lower = AsciiLower(words);
  const bool said = lower.find("full") != std::string::npos ||
                    lower.find("space") != std::string::npos;
  return said ? "" : " (is the drive full?)";
}

void ArchiveFolders::MakeParents(const std::string& name) {
  const fs::path relative = PathFromUtf8(name).parent_path();
  if (made_any_ && relative == last_) return;
  std::error_code ec;
  fs::create_directories(dest_, ec);
  fs::path folder = dest_;
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") continue;
    folder /= part;
    RemoveLink(folder);
    fs::create_directory(folder, ec);
    if (ec) return;
  }
  last_ = relative;
  made_any_ = true;
}

}  // namespace launcher
