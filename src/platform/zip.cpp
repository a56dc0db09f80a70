#include "platform/zip.h"

#include <zip.h>

#include <cstdint>
#include <memory>
#include <new>
#include <system_error>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

// Each entry is streamed through one buffer of this size, never held whole.
constexpr size_t kCopyBufferSize = 1 << 20;

// The DOS "directory" attribute that zip writers put in the low byte of an entry's attributes.
constexpr uint32_t kDosDirectory = 0x10;

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

struct EntryCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using EntryReader = std::unique_ptr<zip_file_t, EntryCloser>;

// libzip reads an empty file as an empty archive; a zero-byte file is a failed download, not a
// zip, so it is refused here.
Archive OpenArchive(const fs::path& zip) {
  std::error_code ec;
  if (fs::file_size(zip, ec) == 0 && !ec) return nullptr;
  int code = 0;
  return Archive(zip_open(PathToUtf8(zip).c_str(), ZIP_RDONLY, &code));
}

// What the unpacker needs of an entry's statistics.
struct EntryInfo {
  std::string name;  // '\' already turned into '/'
  uint64_t size = 0;
  uint16_t method = 0;  // the compression method's number, as the archive states it
  bool folder = false;
  bool executable = false;
};

bool ReadEntryInfo(zip_t* archive, zip_uint64_t index, EntryInfo& info) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive, index, 0, &stat) != 0) return false;
  if ((stat.valid & ZIP_STAT_NAME) == 0 || (stat.valid & ZIP_STAT_SIZE) == 0) return false;
  info.name = stat.name;
  for (char& c : info.name) {
    if (c == '\\') c = '/';
  }
  info.size = stat.size;
  info.method = (stat.valid & ZIP_STAT_COMP_METHOD) != 0 ? stat.comp_method : 0;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) {
    attributes = 0;
  }
  info.folder = (!info.name.empty() && info.name.back() == '/') ||
                (attributes & kDosDirectory) != 0;
  if (system == ZIP_OPSYS_UNIX) {
    const uint32_t mode = attributes >> 16;
    const uint32_t type = mode & 0170000;
    info.executable = (type == 0 || type == 0100000) && (mode & 0111) != 0;
  }
  return true;
}

// Why libzip could not read an entry, for the end of the message: a method it cannot decode by
// its number (7-Zip's Deflate64, LZMA, PPMd, XZ, and bzip2 where libzip is built without it),
// damaged data as such, anything else in libzip's words.
std::string ReadFailure(zip_error_t* failure, const EntryInfo& info) {
  switch (zip_error_code_zip(failure)) {
    case ZIP_ER_COMPNOTSUPP:
      return "compression method " + std::to_string(info.method) + " is not supported";
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
      return "the entry's data is damaged";
    default:
      return zip_error_strerror(failure);
  }
}

// False, with the message's end for an entry libzip could not read in `reason`.
bool ReadFailed(zip_error_t* failure, const EntryInfo& info, std::string& reason) {
  reason = " (" + ReadFailure(failure, info) + ")";
  return false;
}

// False, with the message's end for the output file's failure in `reason`.
bool WriteFailed(const OutputFile& file, std::string& reason) {
  reason = file.ErrorText("");
  return false;
}

// Streams one entry into its output file, which replaces what is there once it is whole; false
// with the message's end (" (" + the reason + ")") in `reason`. An entry that fits the buffer
// is read whole before anything is written, so that damaged data makes no file at all, and is
// then written in one piece.
bool WriteEntry(zip_t* archive, zip_uint64_t index, const EntryInfo& info, const fs::path& out,
                char* buffer, std::string& reason) {
  EntryReader entry(zip_fopen_index(archive, index, 0));
  if (!entry) return ReadFailed(zip_get_error(archive), info, reason);
  size_t filled = 0;
  bool whole = false;
  while (!whole && filled < kCopyBufferSize) {
    const zip_int64_t count = zip_fread(entry.get(), buffer + filled, kCopyBufferSize - filled);
    if (count < 0) {  // damaged data, a bad checksum, a read failure
      return ReadFailed(zip_file_get_error(entry.get()), info, reason);
    }
    whole = count == 0;
    filled += static_cast<size_t>(count);
  }
  OutputFile file;
  if (whole) {
    return file.WriteWhole(out, info.executable, buffer, filled) || WriteFailed(file, reason);
  }
  if (!file.Open(out, info.executable) || !file.Write(buffer, filled)) {
    return WriteFailed(file, reason);
  }
  for (;;) {
    const zip_int64_t count = zip_fread(entry.get(), buffer, kCopyBufferSize);
    if (count < 0) return ReadFailed(zip_file_get_error(entry.get()), info, reason);
    if (count == 0) break;
    if (!file.Write(buffer, static_cast<size_t>(count))) return WriteFailed(file, reason);
  }
  return file.Commit() || WriteFailed(file, reason);
}

}  // namespace

bool ExtractZip(const fs::path& zip, const fs::path& dest, const NameMapper& mapper,
                const ProgressFn& progress, const std::atomic<bool>* cancel,
                std::string& error) {
  const Archive archive = OpenArchive(zip);
  if (!archive) {
    error = "cannot open " + PathToUtf8(zip) + " as a zip";
    return false;
  }
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  const zip_uint64_t entries = count > 0 ? static_cast<zip_uint64_t>(count) : 0;

  uint64_t total = 0;
  EntryInfo info;
  for (zip_uint64_t i = 0; i < entries; ++i) {
    if (ReadEntryInfo(archive.get(), i, info)) total += info.size;
  }
  uint64_t done = 0;

  ArchiveFolders folders(dest);
  std::unique_ptr<char[]> buffer;
  for (zip_uint64_t i = 0; i < entries; ++i) {
    if (cancel != nullptr && cancel->load()) {
      error = kCancelled;
      return false;
    }
    if (!ReadEntryInfo(archive.get(), i, info)) continue;
    const std::string mapped = mapper ? mapper(info.name) : info.name;
    if (mapped.empty() || info.folder) continue;
    if (!IsSafeArchivePath(mapped)) {
      error = "unsafe path in " + PathToUtf8(zip) + ": " + info.name;
      return false;
    }
    const fs::path out = ArchiveDestPath(dest, mapped);
    folders.MakeParents(mapped);  // a failure shows when the file is opened
    if (!buffer) buffer.reset(new (std::nothrow) char[kCopyBufferSize]);
    std::string reason = " (out of memory)";
    if (!buffer || !WriteEntry(archive.get(), i, info, out, buffer.get(), reason)) {
      error = "cannot write " + PathToUtf8(out) + " from " + PathToUtf8(zip) + reason;
      return false;
    }
    done += info.size;
    if (progress) progress(done, total);
  }
  return true;
}

}  // namespace launcher
