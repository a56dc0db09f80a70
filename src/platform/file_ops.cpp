#include "platform/file_ops.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>
#include <vector>

namespace launcher {
namespace fs = std::filesystem;

bool RemoveTree(const fs::path& path, std::string& error, fs::path* failed) {
  if (!EntryExists(path)) return true;
  std::error_code ec;
  if (!IsLink(path) && fs::is_directory(path, ec)) {
    // List first, then remove: a folder changing while it is being read may skip entries.
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      entries.push_back(it->path());
    }
    if (ec) {
      error = ec.message();
      if (failed) *failed = path;
      return false;
    }
    bool all = true;
    for (const fs::path& entry : entries) {
      std::string why;
      fs::path where;
      if (RemoveTree(entry, why, &where)) continue;
      if (all) {
        error = why;
        if (failed) *failed = where;
      }
      all = false;
    }
    if (!all) return false;
  }
  if (RemoveEntry(path, error)) return true;
  if (failed) *failed = path;
  return false;
}

std::vector<fs::path> ListFolder(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  return entries;
}

uint64_t SizeBeneath(const fs::path& folder) {
  uint64_t total = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    if (IsLink(entry)) continue;
    std::error_code entry_ec;
    const fs::file_status status = fs::symlink_status(entry, entry_ec);
    if (entry_ec) continue;
    if (fs::is_directory(status)) {
      total += SizeBeneath(entry);
    } else if (fs::is_regular_file(status)) {
      const uintmax_t size = fs::file_size(entry, entry_ec);
      if (!entry_ec) total += size;
    }
  }
  return total;
}

namespace {

bool WriteFileAs(const fs::path& path, std::string_view bytes, FileMode mode) {
  std::ofstream out(path, mode == FileMode::kText ? std::ios::out | std::ios::trunc
                                                  : std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace

bool WriteWholeFile(const fs::path& path, std::string_view bytes) {
  return WriteFileAs(path, bytes, FileMode::kBinary);
}

bool ReplaceWholeFile(const fs::path& path, std::string_view bytes, FileMode mode) {
  fs::path temporary = path;
  temporary += ".tmp";
  std::string ignored;
  if (WriteFileAs(temporary, bytes, mode) && FlushToDisk(temporary)) {
    // On Windows a reader that has the file open at this moment (another thread) makes the
    // replacing rename fail for a moment; try again briefly rather than lose the write.
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (MoveReplacing(temporary, path, ignored)) return true;
    }
  }
  RemoveEntry(temporary, ignored);
  return false;
}

bool StampEquals(const fs::path& file, const std::string& stamp) {
  std::string text;
  return ReadWholeFile(file, text) && text == stamp;
}

bool ReadWholeFile(const fs::path& path, std::string& out) {
  std::error_code ec;
  if (path.empty() || fs::is_directory(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // istream::read turns a failing read (a folder opened as a file, an I/O error) into badbit
  // where reading the buffer directly would throw.
  std::string text;
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, size_t(in.gcount()));
  }
  if (in.bad() || !in.eof()) return false;
  out = std::move(text);
  return true;
}

}  // namespace launcher
