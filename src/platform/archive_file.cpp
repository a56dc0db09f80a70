#include "platform/archive_file.h"

#include <system_error>

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

fs::path TemporaryName(const fs::path& folder, int attempt) {
  const std::string number = attempt == 0 ? "" : "-" + std::to_string(attempt);
  return folder / (".launcher-unpack" + number + ".tmp");
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::is_open() const { return handle_ != -1; }

bool OutputFile::Open(const fs::path& path, bool executable) {
  Discard();
  path_ = path;
  const fs::path folder = path.parent_path();
  for (int attempt = 0; attempt < kTemporaryNames; ++attempt) {
    temp_ = TemporaryName(folder, attempt);
    if (temp_ == path) continue;  // the file itself is named like a temporary
    const Opened opened = OpenTemporary(temp_, executable);
    if (opened == Opened::kYes) return true;
    if (opened == Opened::kFailed) break;
  }
  error_ = LastErrorCode();
  temp_.clear();
  return false;
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
  std::string message = FormatSystemError(text.c_str(), error_, SystemErrorWords(error_));
  if (IsDiskFullError(error_)) message += " (is the drive full?)";
  return message;
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
