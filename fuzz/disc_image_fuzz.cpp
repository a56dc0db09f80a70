// The Xbox disc image reader on any image: the open either succeeds with a tree whose every
// entry can be looked up and read, or fails with one of its three sentences.
//
// Input: one byte choosing the layout (bit 0: the whole disc, partition at 0x18300000), then
// the partition's bytes from its volume descriptor (sector 32) on. Everything before them reads
// as zeros, so sector numbers in the input's tables count from sector 32.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/disc_image.h"

namespace launcher::fuzz {
namespace {

constexpr uint64_t kDescriptorOffset = 0x10000;
constexpr uint64_t kWholeDiscBase = 0x18300000;

// The input's bytes at `start`, zeros before them, the end of the file after them.
class SparseDiscFile final : public DiscFile {
 public:
  SparseDiscFile(uint64_t start, const uint8_t* data, size_t size)
      : start_(start), bytes_(data, data + size) {}

  DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    const uint64_t end = start_ + bytes_.size();
    if (offset >= end) return {0, 0};
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(size, end - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t at = offset + i;
      out[i] = at < start_ ? 0 : bytes_[at - start_];
    }
    return {count, 0};
  }
  uint64_t Size() override { return start_ + bytes_.size(); }

 private:
  uint64_t start_;
  std::vector<uint8_t> bytes_;
};

// Looks every entry up by its path (built from the names as stored) and reads every file.
void VisitTree(DiscImage& image, const DiscEntry& folder, const std::string& path, int depth) {
  Check(depth <= 40, "the tree is deeper than the walk allows");
  for (size_t i = 0; i < folder.children.size(); ++i) {
    const DiscEntry& child = folder.children[i];
    if (i > 0) {
      Check(!DiscEntryNameLess(child, folder.children[i - 1]), "children are not sorted");
    }
    const std::string child_path = path.empty() ? child.name : path + "\\" + child.name;
    // A name holding '\\' or equal to "." or ".." cannot be looked up by its path; others find
    // an entry of the same name from the root (maybe an earlier namesake in another case; deeper
    // down such a namesake may be a file, so only the root's entries are sure to be found).
    const bool plain = child.name.find('\\') == std::string::npos && !child.name.empty() &&
                       child.name != "." && child.name != "..";
    const DiscEntry* found = FindDiscEntry(image, child_path);
    if (plain && depth == 0) {
      Check(found != nullptr && found->name.size() == child.name.size(),
            "an entry cannot be found by its own path");
    }
    if (child.folder) {
      VisitTree(image, child, child_path, depth + 1);
    } else {
      std::vector<uint8_t> bytes;
      if (ReadDiscFile(image, child_path, bytes)) {
        Check(found != nullptr && bytes.size() == found->size,
              "a file read whole has another size than its entry");
      }
      uint8_t buffer[64];
      const uint32_t got = ReadDiscFileRange(image, child, child.size / 2, buffer, sizeof buffer);
      Check(got <= sizeof buffer, "a range read returned more than asked");
    }
  }
}

}  // namespace
}  // namespace launcher::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 1) return 0;
  const uint64_t base = (data[0] & 1) ? kWholeDiscBase : 0;
  DiscImage image;
  std::string error;
  const bool opened = OpenDiscImage(
      image, std::make_unique<SparseDiscFile>(base + kDescriptorOffset, data + 1, size - 1),
      L"fuzz.iso", error);
  if (!opened) {
    Check(error == "no Xbox disc image" || error == "its folders cannot be read" ||
              error == kDiscImageCutShort,
          "unexpected open error: " + error);
    Check(image.root.children.empty(), "a failed open kept a tree");
    return 0;
  }
  Check(image.base == base || image.base == 0, "the partition base is neither layout's");
  VisitTree(image, image.root, "", 0);
  // Paths that walk up, skip parts, or use the other separator never leave the tree.
  for (const char* path : {"", ".", "..", "..\\..\\default.xbe", ".\\\\x", "a/b", "\\"}) {
    FindDiscEntry(image, path);
  }
  return 0;
}
