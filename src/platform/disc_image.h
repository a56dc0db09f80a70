// Reading an Xbox disc image (XDVDFS): the directory tree is read once at open, then files are
// looked up by path and read. Reads retry on flaky storage and are safe from several threads.
//
// An image is either the game partition alone (partition base 0) or the whole disc, whose game
// partition starts at 0x18300000. The volume descriptor is the partition's sector 32; each
// folder's directory table is a binary tree of entries, which the walk reads defensively: a
// position outside the table, one seen before, or padding (0xFFFF) is skipped, so a corrupt table
// never loops or crashes; a tree deeper than 32 or a table over 16 MiB fails the open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

struct DiscEntry {
  std::string name;          // the bytes as stored
  uint64_t offset = 0;       // byte offset on the disc (sector * 2048 + partition base)
  uint32_t size = 0;         // bytes; for a folder, the size of its directory table
  bool folder = false;
  std::vector<DiscEntry> children;  // sorted by DiscEntryNameLess
};

// Names compared upper-cased (ASCII letters only) as unsigned bytes; shorter first on a tie.
bool DiscEntryNameLess(const DiscEntry& a, const DiscEntry& b);

// The outcome of one read attempt: the bytes transferred and the system's error code (0 when
// the read succeeded; a read at or past the end of the file succeeds with 0 bytes).
struct DiscReadResult {
  uint32_t transferred = 0;
  uint32_t error = 0;
};

// The open image file. Reads are positional, so any number of threads may read at once.
class DiscFile {
 public:
  virtual ~DiscFile() = default;
  // One attempt to read `size` bytes at byte `offset` of the file, with no retry.
  virtual DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) = 0;
  // The file's size in bytes (0 when the system cannot tell).
  virtual uint64_t Size() = 0;
};

// Opens an existing file read-only, sharing read access; null when it cannot be opened.
// (Windows: opened for overlapped reads; POSIX: positional reads with pread.)
std::unique_ptr<DiscFile> OpenDiscFile(const std::wstring& path);

struct DiscImage {
  DiscImage();
  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  std::unique_ptr<DiscFile> file;
  std::wstring path;
  uint32_t base = 0;          // 0, or 0x18300000 for an image of the whole disc
  uint64_t volume_time = 0;
  DiscEntry root;
};

// The open's error for an image whose directory tables reach past the end of the file, and
// ReadXbe's for a file whose data does: the image was cut short (a copy that did not finish).
inline constexpr const char* kDiscImageCutShort = "the file ends before the disc's data does";

// Opens the image and reads its directory tree; the error is "cannot open the file",
// "no Xbox disc image", kDiscImageCutShort or "its folders cannot be read".
bool OpenDiscImage(DiscImage& image, const std::wstring& path, std::string& error);
// The same over a file already open (null gives "cannot open the file"); lets a caller read
// through its own DiscFile, e.g. one that counts or fails reads.
bool OpenDiscImage(DiscImage& image, std::unique_ptr<DiscFile> file, const std::wstring& path,
                   std::string& error);

// Reads `size` bytes at disc offset `offset`, retrying failed reads; returns the bytes read.
// Failures are logged (level 4 per retry, for the first 20 in the process; level 3 when the
// retries run out), never returned as errors: callers compare the count with what they asked.
uint32_t ReadDisc(DiscImage& image, uint64_t offset, void* buffer, uint32_t size);

// Fills `folder`'s children from its directory table and walks the sub-folders; false when the
// table cannot be read whole, is over 16 MiB, or the depth passes 32.
bool WalkDiscDirectory(DiscImage& image, DiscEntry& folder, int depth);

// Looks a '\'-separated path up from the root, in any letter case; null when missing. Empty
// and "." parts are skipped, ".." goes up (and stays at the root); '/' is part of a name.
const DiscEntry* FindDiscEntry(const DiscImage& image, std::string_view path);
const DiscEntry* FindDiscEntryByParts(const DiscImage& image,
                                      const std::vector<std::string_view>& parts);

// Whether the entry's bytes (a file's data, a folder's table) reach past the end of the image
// file; false when the file's size is unknown.
bool DiscEntryPastEnd(const DiscImage& image, const DiscEntry& entry);

// Up to `length` bytes of the file from `offset` within it; 0 for a folder or past the end.
uint32_t ReadDiscFileRange(DiscImage& image, const DiscEntry& entry, uint64_t offset,
                           void* buffer, uint32_t length);

// The whole file at `path`; false when it is missing, a folder, or could not be read whole.
bool ReadDiscFile(DiscImage& image, std::string_view path, std::vector<uint8_t>& out);

// The process-wide current image, destroyed at exit.
void SetCurrentDiscImage(std::unique_ptr<DiscImage> image);
DiscImage* CurrentDiscImage();
// Destroys the current image; registered to run at process exit.
void DestroyCurrentDiscImage();

}  // namespace launcher
