#include "support/disc_image_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace launcher::test {
namespace {

constexpr uint32_t kDescriptorSector = 32;
constexpr uint32_t kFirstDataSector = kDescriptorSector + 1;

void PutLe(std::string& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The order of names in a directory tree: upper-cased bytes, shorter first on a tie.
bool NameLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Upper(a[i]));
    const auto y = static_cast<unsigned char>(Upper(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

uint32_t SectorsFor(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kDiscSectorSize - 1) / kDiscSectorSize);
}

}  // namespace

struct DiscImageWriter::Node {
  std::string name;
  bool folder = false;
  std::string data;                    // a file's contents
  std::optional<uint32_t> at_sector;   // AddFileAt: the entry's sector, no data written
  std::optional<uint32_t> at_size;     // AddFileAt: the entry's size
  std::optional<std::string> raw_table;
  std::optional<uint32_t> table_size;  // overrides what is recorded for the table
  std::optional<uint32_t> table_sector;
  std::vector<std::unique_ptr<Node>> children;

  // Filled while building.
  std::string table;
  uint32_t sector = 0;
  uint32_t size = 0;
};

DiscImageWriter::DiscImageWriter() : root_(std::make_unique<Node>()) { root_->folder = true; }
DiscImageWriter::~DiscImageWriter() = default;

DiscImageWriter::Node& DiscImageWriter::Folder(std::string_view path) {
  Node* node = root_.get();
  for (std::string_view part : SplitPath(path)) {
    Node* next = nullptr;
    for (auto& child : node->children) {
      if (child->name == part) next = child.get();
    }
    if (next == nullptr || !next->folder) {
      auto made = std::make_unique<Node>();
      made->name = std::string(part);
      made->folder = true;
      next = made.get();
      std::erase_if(node->children, [&](const auto& c) { return c->name == part; });
      node->children.push_back(std::move(made));
    }
    node = next;
  }
  return *node;
}

DiscImageWriter::Node& DiscImageWriter::Leaf(std::string_view path) {
  std::vector<std::string_view> parts = SplitPath(path);
  if (parts.empty()) parts.push_back("");
  const std::string name(parts.back());
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (i != 0) parent += '\\';
    parent += parts[i];
  }
  Node& folder = Folder(parent);
  std::erase_if(folder.children, [&](const auto& c) { return c->name == name; });
  auto made = std::make_unique<Node>();
  made->name = name;
  folder.children.push_back(std::move(made));
  return *folder.children.back();
}

void DiscImageWriter::AddFolder(std::string_view path) { Folder(path); }

void DiscImageWriter::AddFile(std::string_view path, std::string_view bytes) {
  Leaf(path).data = std::string(bytes);
}

void DiscImageWriter::AddFile(std::string_view path, const std::vector<uint8_t>& bytes) {
  AddFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void DiscImageWriter::AddFileAt(std::string_view path, uint32_t sector, uint32_t size) {
  Node& node = Leaf(path);
  node.at_sector = sector;
  node.at_size = size;
}

uint32_t DiscImageWriter::AddRawData(std::string_view bytes) {
  const uint32_t sector = kFirstDataSector + raw_sectors_;
  raw_data_.emplace_back(bytes);
  raw_sectors_ += std::max<uint32_t>(1, SectorsFor(bytes.size()));
  return sector;
}

void DiscImageWriter::SetRawTable(std::string_view folder, std::string_view table) {
  Folder(folder).raw_table = std::string(table);
}

void DiscImageWriter::SetTableSize(std::string_view folder, uint32_t size) {
  Folder(folder).table_size = size;
}

void DiscImageWriter::SetTableSector(std::string_view folder, uint32_t sector) {
  Folder(folder).table_sector = sector;
}

void DiscImageWriter::Patch(uint64_t file_offset, std::string_view bytes) {
  patches_.emplace_back(file_offset, std::string(bytes));
}

std::string DiscImageWriter::EntryBytes(uint16_t left, uint16_t right, uint32_t sector,
                                        uint32_t size, uint8_t attributes, std::string_view name) {
  std::string entry(14, '\0');
  PutLe(entry, 0, left, 2);
  PutLe(entry, 2, right, 2);
  PutLe(entry, 4, sector, 4);
  PutLe(entry, 8, size, 4);
  entry[12] = static_cast<char>(attributes);
  entry[13] = static_cast<char>(name.size() & 0xFF);
  entry += name;
  entry.resize((entry.size() + 3) / 4 * 4, '\0');
  return entry;
}

std::string DiscImageWriter::DescriptorBytes(uint32_t sector, uint32_t size, uint64_t time) {
  std::string d(kDiscSectorSize, '\0');
  d.replace(0, kDiscMagic.size(), kDiscMagic);
  PutLe(d, 20, sector, 4);
  PutLe(d, 24, size, 4);
  PutLe(d, 28, time, 8);
  d.replace(2028, kDiscMagic.size(), kDiscMagic);
  return d;
}

namespace {

// Positions of a folder's entries in its table: a balanced tree over the sorted children, in
// pre-order, each entry 4-byte aligned and never crossing a sector boundary.
template <typename N>
struct TableLayout {
  std::vector<N*> sorted;
  std::vector<uint32_t> position;  // per sorted index
  std::vector<int> left, right;    // sorted index of the subtree roots, -1 for none
  uint32_t end = 0;

  explicit TableLayout(const std::vector<std::unique_ptr<N>>& children) {
    for (const auto& c : children) sorted.push_back(c.get());
    std::sort(sorted.begin(), sorted.end(),
              [](const N* a, const N* b) { return NameLess(a->name, b->name); });
    position.assign(sorted.size(), 0);
    left.assign(sorted.size(), -1);
    right.assign(sorted.size(), -1);
    Place(0, static_cast<int>(sorted.size()));
  }

  int Place(int begin, int stop) {
    if (begin >= stop) return -1;
    const int mid = begin + (stop - begin) / 2;
    const uint32_t bytes = (14 + static_cast<uint32_t>(sorted[mid]->name.size()) + 3) / 4 * 4;
    if (end / kDiscSectorSize != (end + bytes - 1) / kDiscSectorSize) {
      end = (end / kDiscSectorSize + 1) * kDiscSectorSize;
    }
    position[mid] = end;
    end += bytes;
    left[mid] = Place(begin, mid);
    right[mid] = Place(mid + 1, stop);
    return mid;
  }
};

}  // namespace

std::vector<uint8_t> DiscImageWriter::BuildPartition(DiscLayout* layout) const {
  uint32_t next = kFirstDataSector + raw_sectors_;

  // Pass 1: every folder's table gets its sectors (pre-order), then every file its data sectors.
  std::vector<std::pair<Node*, std::string>> folders, files;
  auto collect = [&](auto&& self, Node* node, const std::string& path) -> void {
    (node->folder ? folders : files).emplace_back(node, path);
    for (auto& child : node->children) {
      self(self, child.get(), path.empty() ? child->name : path + "\\" + child->name);
    }
  };
  collect(collect, root_.get(), "");

  for (auto& [node, path] : folders) {
    uint32_t bytes = 0;
    if (node->raw_table) {
      bytes = static_cast<uint32_t>(node->raw_table->size());
    } else if (!node->children.empty()) {
      bytes = SectorsFor(TableLayout<Node>(node->children).end) * kDiscSectorSize;
    }
    node->sector = bytes == 0 ? 0 : next;
    next += SectorsFor(bytes);
    node->size = bytes;
  }
  for (auto& [node, path] : files) {
    node->sector = node->at_sector.value_or(next);
    node->size = node->at_size.value_or(static_cast<uint32_t>(node->data.size()));
    if (!node->at_sector) next += SectorsFor(node->data.size());
  }
  for (auto& [node, path] : folders) {
    if (node->table_sector) node->sector = *node->table_sector;
    if (node->table_size) node->size = *node->table_size;
  }

  // Pass 2: write the descriptor, the raw blobs, the tables and the files.
  std::string image(static_cast<size_t>(next) * kDiscSectorSize, '\0');
  auto put = [&](uint64_t at, const std::string& bytes) {
    if (at + bytes.size() > image.size()) image.resize(at + bytes.size(), '\0');
    image.replace(at, bytes.size(), bytes);
  };
  put(kDiscDescriptorOffset, DescriptorBytes(root_->sector, root_->size, volume_time_));
  uint32_t raw_sector = kFirstDataSector;
  for (const std::string& blob : raw_data_) {
    put(uint64_t{raw_sector} * kDiscSectorSize, blob);
    raw_sector += std::max<uint32_t>(1, SectorsFor(blob.size()));
  }
  uint32_t table_sector = kFirstDataSector + raw_sectors_;  // where pass 1 put the tables
  for (auto& [node, path] : folders) {
    std::string table;
    if (node->raw_table) {
      table = *node->raw_table;
    } else if (!node->children.empty()) {
      TableLayout<Node> tl(node->children);
      table.assign(SectorsFor(tl.end) * kDiscSectorSize, '\xFF');
      for (size_t i = 0; i < tl.sorted.size(); ++i) {
        const Node* c = tl.sorted[i];
        auto link = [&](int index) {
          return static_cast<uint16_t>(index < 0 ? 0 : tl.position[index] / 4);
        };
        const std::string entry =
            EntryBytes(link(tl.left[i]), link(tl.right[i]), c->sector, c->size,
                       c->folder ? kDiscFolderAttribute : 0, c->name);
        table.replace(tl.position[i], entry.size(), entry);
      }
    }
    if (!table.empty()) put(uint64_t{table_sector} * kDiscSectorSize, table);
    table_sector += SectorsFor(table.size());
    if (layout) layout->entries[path] = {node->sector, node->size};
  }
  for (auto& [node, path] : files) {
    if (!node->at_sector && !node->data.empty()) {
      put(uint64_t{node->sector} * kDiscSectorSize, node->data);
    }
    if (layout) layout->entries[path] = {node->sector, node->size};
  }
  if (layout) layout->partition_size = image.size();
  return std::vector<uint8_t>(image.begin(), image.end());
}

std::vector<uint8_t> DiscImageWriter::Build(DiscLayout* layout) const {
  std::vector<uint8_t> image = BuildPartition(layout);
  for (const auto& [at, bytes] : patches_) {
    if (at + bytes.size() > image.size()) image.resize(at + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return image;
}

bool DiscImageWriter::WriteImage(const std::filesystem::path& path, uint64_t base,
                                 DiscLayout* layout) const {
  const std::vector<uint8_t> partition = BuildPartition(layout);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  auto write_at = [&](uint64_t at, const char* bytes, size_t size) {
    out.seekp(static_cast<std::streamoff>(at));  // past the end leaves a hole
    out.write(bytes, static_cast<std::streamsize>(size));
  };
  write_at(base, reinterpret_cast<const char*>(partition.data()), partition.size());
  for (const auto& [at, bytes] : patches_) write_at(at, bytes.data(), bytes.size());
  out.close();
  if (!out) {
    ADD_FAILURE() << "cannot write the disc image " << path;
    return false;
  }
  return true;
}

bool DiscImageWriter::WriteGamePartition(const std::filesystem::path& path,
                                         DiscLayout* layout) const {
  return WriteImage(path, 0, layout);
}

bool DiscImageWriter::WriteWholeDisc(const std::filesystem::path& path, DiscLayout* layout) const {
  return WriteImage(path, kWholeDiscBase, layout);
}

}  // namespace launcher::test
