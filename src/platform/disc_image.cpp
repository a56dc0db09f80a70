#include "platform/disc_image.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/ascii.h"
#include "platform/log.h"

namespace launcher {
namespace {

constexpr uint32_t kSectorSize = 2048;
constexpr uint64_t kDescriptorOffset = 0x10000;  // sector 32 of the partition
constexpr uint32_t kWholeDiscBase = 0x18300000;
constexpr char kMagic[] = "MICROSOFT*XBOX*MEDIA";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kMagicEndOffset = 2028;
constexpr int kMaxDepth = 32;
constexpr uint32_t kMaxTableSize = 16u << 20;
constexpr size_t kEntryHeader = 14;
constexpr uint16_t kPadding = 0xFFFF;
constexpr uint8_t kFolderAttribute = 0x10;

// Limits over a whole open: folder entries that point at tables already in the tree (sharing or
// looping within the depth limit) could otherwise make a small image expand into billions of
// entries or terabytes of reads. Real discs stay far below both.
constexpr uint64_t kMaxTreeEntries = 1u << 20;
constexpr uint64_t kMaxTreeTableBytes = 1ull << 30;

constexpr int kRetries = 5;
constexpr uint32_t kLoggedRetryLimit = 20;

// Read failures logged so far in this process.
std::atomic<uint32_t> g_logged_failures{0};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}


struct WalkBudget {
  uint64_t entries = 0;
  uint64_t table_bytes = 0;
  bool past_end = false;  // a table lay beyond the end of the file
};

// The entries of one directory table, in the order found; false when the table cannot be read.
bool ReadTableEntries(DiscImage& image, const DiscEntry& folder, WalkBudget& budget,
                      std::vector<DiscEntry>& children) {
  const uint32_t size = folder.size;
  budget.table_bytes += size;
  if (budget.table_bytes > kMaxTreeTableBytes) return false;
  if (DiscEntryPastEnd(image, folder)) {
    budget.past_end = true;
    return false;
  }
  std::vector<uint8_t> table(size, 0);
  if (ReadDisc(image, folder.offset, table.data(), size) < size) return false;

  std::vector<bool> visited((size + 3) / 4, false);
  std::vector<uint32_t> stack{0};
  while (!stack.empty()) {
    const uint32_t o = stack.back();
    stack.pop_back();
    if (uint64_t{o} + kEntryHeader > size) continue;
    if (visited[o / 4]) continue;
    visited[o / 4] = true;
    const uint8_t* entry = table.data() + o;
    const uint16_t left = Le16(entry);
    if (left == kPadding) continue;
    const uint8_t name_length = entry[13];
    if (uint64_t{o} + kEntryHeader + name_length > size) continue;
    const uint16_t right = Le16(entry + 2);
    if (left != 0) stack.push_back(uint32_t{left} * 4);
    if (right != 0) stack.push_back(uint32_t{right} * 4);

    if (++budget.entries > kMaxTreeEntries) return false;
    DiscEntry& child = children.emplace_back();
    child.name.assign(reinterpret_cast<const char*>(entry + kEntryHeader), name_length);
    child.offset = uint64_t{Le32(entry + 4)} * kSectorSize + image.base;
    child.size = Le32(entry + 8);
    child.folder = (entry[12] & kFolderAttribute) != 0;
  }
  return true;
}

bool Walk(DiscImage& image, DiscEntry& folder, int depth, WalkBudget& budget) {
  if (folder.size == 0) return true;
  if (depth > kMaxDepth || folder.size > kMaxTableSize) return false;
  // The table's buffer is freed before the sub-folders are walked.
  if (!ReadTableEntries(image, folder, budget, folder.children)) return false;
  std::sort(folder.children.begin(), folder.children.end(), DiscEntryNameLess);
  for (DiscEntry& child : folder.children) {
    if (child.folder && !Walk(image, child, depth + 1, budget)) return false;
  }
  return true;
}

// Whether a valid volume descriptor sits at `offset`; its bytes land in `descriptor`.
bool ReadDescriptor(DiscImage& image, uint64_t offset, uint8_t (&descriptor)[kSectorSize]) {
  std::memset(descriptor, 0, sizeof descriptor);
  return ReadDisc(image, offset, descriptor, kSectorSize) == kSectorSize &&
         std::memcmp(descriptor, kMagic, kMagicSize) == 0 &&
         std::memcmp(descriptor + kMagicEndOffset, kMagic, kMagicSize) == 0;
}

std::unique_ptr<DiscImage>& CurrentSlot() {
  // Never destroyed itself, so the exit handler can run in any order with other destructors.
  static auto* slot = new std::unique_ptr<DiscImage>();
  return *slot;
}

[[maybe_unused]] const bool g_exit_handler_registered = [] {
  CurrentSlot();
  return std::atexit(DestroyCurrentDiscImage) == 0;
}();

}  // namespace

bool DiscEntryNameLess(const DiscEntry& a, const DiscEntry& b) {
  const size_t n = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = AsciiUpper(static_cast<unsigned char>(a.name[i]));
    const unsigned char y = AsciiUpper(static_cast<unsigned char>(b.name[i]));
    if (x != y) return x < y;
  }
  return a.name.size() < b.name.size();
}

DiscImage::DiscImage() = default;
DiscImage::~DiscImage() = default;

bool OpenDiscImage(DiscImage& image, const std::wstring& path, std::string& error) {
  return OpenDiscImage(image, OpenDiscFile(path), path, error);
}

bool OpenDiscImage(DiscImage& image, std::unique_ptr<DiscFile> file, const std::wstring& path,
                   std::string& error) {
  image.path = path;
  image.file = std::move(file);
  image.base = 0;
  image.volume_time = 0;
  image.root = DiscEntry{};
  if (!image.file) {
    error = "cannot open the file";
    return false;
  }

  uint8_t descriptor[kSectorSize];
  if (ReadDescriptor(image, kDescriptorOffset, descriptor)) {
    image.base = 0;
  } else if (ReadDescriptor(image, kWholeDiscBase + kDescriptorOffset, descriptor)) {
    image.base = kWholeDiscBase;
  } else {
    error = "no Xbox disc image";
    return false;
  }

  image.volume_time = Le64(descriptor + 28);
  image.root.folder = true;
  image.root.offset = uint64_t{Le32(descriptor + 20)} * kSectorSize + image.base;
  image.root.size = Le32(descriptor + 24);
  WalkBudget budget;
  if (!Walk(image, image.root, 0, budget)) {
    image.root.children.clear();
    error = budget.past_end ? kDiscImageCutShort : "its folders cannot be read";
    return false;
  }
  return true;
}

uint32_t ReadDisc(DiscImage& image, uint64_t offset, void* buffer, uint32_t size) {
  if (size == 0 || !image.file) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  uint32_t error = 0;
  for (int retry = 0;; ++retry) {
    const DiscReadResult attempt = image.file->ReadAt(offset + done, bytes + done, size - done);
    done += std::min(attempt.transferred, size - done);
    error = attempt.error;
    if (done == size || (attempt.error == 0 && attempt.transferred == 0)) return done;
    if (retry == kRetries) break;
    if (attempt.transferred == 0) {
      if (g_logged_failures.fetch_add(1) < kLoggedRetryLimit) {
        LogPrintf(4, "disc: a read at %llu failed (host error %lu), asked again",
                  static_cast<unsigned long long>(offset + done),
                  static_cast<unsigned long>(error));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  LogPrintf(3,
            "disc: %u of %u bytes read at %llu after 5 retries (host error %lu): the title gets "
            "a short read",
            done, size, static_cast<unsigned long long>(offset), static_cast<unsigned long>(error));
  return done;
}

bool WalkDiscDirectory(DiscImage& image, DiscEntry& folder, int depth) {
  WalkBudget budget;
  return Walk(image, folder, depth, budget);
}

const DiscEntry* FindDiscEntry(const DiscImage& image, std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    if (end == std::string_view::npos) {
      parts.push_back(path.substr(start));
      break;
    }
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return FindDiscEntryByParts(image, parts);
}

const DiscEntry* FindDiscEntryByParts(const DiscImage& image,
                                      const std::vector<std::string_view>& parts) {
  std::vector<const DiscEntry*> stack{&image.root};
  for (std::string_view part : parts) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (stack.size() > 1) stack.pop_back();
      continue;
    }
    const DiscEntry* match = nullptr;
    for (const DiscEntry& child : stack.back()->children) {
      if (AsciiEqualFolded(child.name, part)) {
        match = &child;
        break;
      }
    }
    if (match == nullptr) return nullptr;
    stack.push_back(match);
  }
  return stack.back();
}

bool DiscEntryPastEnd(const DiscImage& image, const DiscEntry& entry) {
  const uint64_t image_size = image.file ? image.file->Size() : 0;
  return image_size != 0 && entry.offset + entry.size > image_size;
}

uint32_t ReadDiscFileRange(DiscImage& image, const DiscEntry& entry, uint64_t offset,
                           void* buffer, uint32_t length) {
  if (entry.folder || offset >= entry.size) return 0;
  const auto count = static_cast<uint32_t>(std::min<uint64_t>(entry.size - offset, length));
  return ReadDisc(image, entry.offset + offset, buffer, count);
}

bool ReadDiscFile(DiscImage& image, std::string_view path, std::vector<uint8_t>& out) {
  const DiscEntry* entry = FindDiscEntry(image, path);
  if (entry == nullptr || entry->folder) return false;
  if (entry->size == 0) {
    out.clear();
    return true;
  }
  // A corrupt entry can claim up to 4 GiB; data past the end of the image cannot be read whole,
  // so do not make room for it.
  if (DiscEntryPastEnd(image, *entry)) return false;
  out.resize(entry->size);
  return ReadDisc(image, entry->offset, out.data(), entry->size) == entry->size;
}

void SetCurrentDiscImage(std::unique_ptr<DiscImage> image) { CurrentSlot() = std::move(image); }

DiscImage* CurrentDiscImage() { return CurrentSlot().get(); }

void DestroyCurrentDiscImage() { CurrentSlot().reset(); }

}  // namespace launcher
