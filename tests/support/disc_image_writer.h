// Builds Xbox disc images (XDVDFS) for tests, at run time.
//
// Usage:
//   launcher::test::DiscImageWriter writer;
//   writer.AddFile("default.xbe", xbe_bytes);           // parent folders are made as needed
//   writer.AddFile("media\\sound\\a.wav", "RIFF....");  // '\' separates path parts
//   writer.AddFolder("empty");                          // a folder with no entries
//   writer.WriteGamePartition(dir / "game.iso");        // the game partition alone (base 0)
//   writer.WriteWholeDisc(dir / "disc.iso");            // partition at 0x18300000, sparse file
//
// Paths are split at '\' only, so a '/' inside a part stays part of the name; names are stored as
// the given bytes. Each directory table is a binary search tree ordered by upper-cased name, with
// entries padded to 4 bytes and never crossing a sector (the gap is 0xFF filled, as on real discs).
// Data is placed sector-aligned after the volume descriptor (sector 32): first the blobs of
// AddRawData in the order added (sectors 33, 34, ...), then the tables, then the files.
//
// Low-level hooks for corrupt images: SetRawTable (a folder's table as given bytes, build its
// entries with EntryBytes), SetTableSize / SetTableSector (what the parent entry or descriptor
// records for a folder's table), AddFileAt (an entry with any sector and size, no data written),
// AddRawData (bytes at a known sector), Patch (bytes over the written image at a file offset).
// Build/Write* report where everything landed through the optional DiscLayout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::test {

inline constexpr uint32_t kDiscSectorSize = 2048;
inline constexpr uint64_t kDiscDescriptorOffset = 0x10000;     // from the partition base
inline constexpr uint64_t kWholeDiscBase = 0x18300000;         // partition base in a whole disc
inline constexpr std::string_view kDiscMagic = "MICROSOFT*XBOX*MEDIA";
inline constexpr uint8_t kDiscFolderAttribute = 0x10;

// Where the writer put each table and file (disc offsets relative to the partition base).
struct DiscPlacement {
  uint32_t sector = 0;
  uint32_t size = 0;  // as recorded in the entry (or the descriptor, for the root)
};
struct DiscLayout {
  // Key: the path as given to the writer ('\' separated; "" is the root folder).
  std::map<std::string, DiscPlacement> entries;
  uint64_t partition_size = 0;  // bytes of the game partition as written
};

class DiscImageWriter {
 public:
  DiscImageWriter();
  ~DiscImageWriter();
  DiscImageWriter(const DiscImageWriter&) = delete;
  DiscImageWriter& operator=(const DiscImageWriter&) = delete;

  // A folder (and its parents). Adding an existing folder again does nothing.
  void AddFolder(std::string_view path);
  // A file with the given contents (replaces one of the same path).
  void AddFile(std::string_view path, std::string_view bytes);
  void AddFile(std::string_view path, const std::vector<uint8_t>& bytes);

  void SetVolumeTime(uint64_t time) { volume_time_ = time; }

  // --- Hooks for corrupt or unusual images ---

  // A file entry pointing at `sector` with `size`, writing no data (e.g. past the end).
  void AddFileAt(std::string_view path, uint32_t sector, uint32_t size);
  // Bytes placed at the returned sector (known at once, before the image is built).
  uint32_t AddRawData(std::string_view bytes);
  // The folder's directory table is exactly `table` (its added children are not written).
  void SetRawTable(std::string_view folder, std::string_view table);
  // What the parent entry (or the descriptor, for the root "") records for the folder's table.
  void SetTableSize(std::string_view folder, uint32_t size);
  void SetTableSector(std::string_view folder, uint32_t sector);
  // Bytes written over the finished image at `file_offset` (absolute in the image file, so for
  // a whole-disc image add kWholeDiscBase to reach the partition). May extend the file.
  void Patch(uint64_t file_offset, std::string_view bytes);

  // One directory entry: left/right in 4-byte units, attributes, name (length byte = size).
  static std::string EntryBytes(uint16_t left, uint16_t right, uint32_t sector, uint32_t size,
                                uint8_t attributes, std::string_view name);
  // The 2048-byte volume descriptor for a root table at `sector` of `size` bytes.
  static std::string DescriptorBytes(uint32_t sector, uint32_t size, uint64_t time = 0);

  // --- Output ---

  // The game-partition image (base 0) as bytes, patches applied.
  std::vector<uint8_t> Build(DiscLayout* layout = nullptr) const;
  // Writes the game-partition image; false (and a test failure) when the file cannot be written.
  bool WriteGamePartition(const std::filesystem::path& path, DiscLayout* layout = nullptr) const;
  // Writes an image of the whole disc: zeros up to kWholeDiscBase (a hole, not written), then
  // the partition. The file is sparse where the file system allows it.
  bool WriteWholeDisc(const std::filesystem::path& path, DiscLayout* layout = nullptr) const;

 private:
  struct Node;
  Node& Folder(std::string_view path);  // made with its parents when missing
  Node& Leaf(std::string_view path);    // an entry (made fresh) under its parent
  std::vector<uint8_t> BuildPartition(DiscLayout* layout) const;
  bool WriteImage(const std::filesystem::path& path, uint64_t base, DiscLayout* layout) const;

  std::unique_ptr<Node> root_;
  uint64_t volume_time_ = 0;
  std::vector<std::string> raw_data_;
  uint32_t raw_sectors_ = 0;
  std::vector<std::pair<uint64_t, std::string>> patches_;
};

}  // namespace launcher::test
