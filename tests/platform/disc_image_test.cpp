#include "platform/disc_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "support/disc_files.h"
#include "support/disc_image_writer.h"
#include "support/scratch.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using test::DiscImageWriter;
using test::DiscLayout;
using test::kDiscDescriptorOffset;
using test::kDiscFolderAttribute;
using test::kWholeDiscBase;

constexpr uint32_t kSector = 2048;

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// An image with the usual shapes: files at the root and nested, an empty folder and file, a
// name holding a forward slash.
void AddSample(DiscImageWriter& writer) {
  writer.AddFile("default.xbe", Pattern(5000, 1));
  writer.AddFile("Media\\Sound\\Deep\\x.bin", Pattern(kSector, 2));
  writer.AddFile("Media\\music.wma", Pattern(70000, 3));
  writer.AddFile("a/b", "slash");
  writer.AddFolder("empty folder");
  writer.AddFile("empty.txt", "");
  writer.SetVolumeTime(0x0123456789ABCDEFull);
}

bool OpenBytes(DiscImage& image, std::vector<uint8_t> bytes, std::string& error) {
  return OpenDiscImage(image, std::make_unique<test::MemoryDiscFile>(std::move(bytes)), L"memory",
                       error);
}

std::vector<std::string> ChildNames(const DiscEntry& folder) {
  std::vector<std::string> names;
  for (const DiscEntry& child : folder.children) names.push_back(child.name);
  return names;
}

// --- Both layouts, read through the real file ----------------------------------------------

struct LayoutCase {
  const char* name;
  bool whole_disc;
};

class DiscImageLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DiscImageLayout, OpensAndReadsFiles) {
  test::ScratchDir dir;
  DiscImageWriter writer;
  AddSample(writer);
  DiscLayout layout;
  const fs::path path = dir / "game.iso";
  if (GetParam().whole_disc) {
    ASSERT_TRUE(writer.WriteWholeDisc(path, &layout));
    EXPECT_EQ(fs::file_size(path), kWholeDiscBase + layout.partition_size);
  } else {
    ASSERT_TRUE(writer.WriteGamePartition(path, &layout));
  }
  const uint32_t base = GetParam().whole_disc ? static_cast<uint32_t>(kWholeDiscBase) : 0;

  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenDiscImage(image, path.wstring(), error)) << error;
  EXPECT_EQ(image.path, path.wstring());
  EXPECT_EQ(image.base, base);
  EXPECT_EQ(image.volume_time, 0x0123456789ABCDEFull);
  EXPECT_TRUE(image.root.folder);
  EXPECT_EQ(image.root.name, "");
  EXPECT_EQ(image.root.offset, uint64_t{layout.entries[""].sector} * kSector + base);
  EXPECT_EQ(image.root.size, layout.entries[""].size);
  EXPECT_EQ(ChildNames(image.root),
            (std::vector<std::string>{"a/b", "default.xbe", "empty folder", "empty.txt", "Media"}));

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadDiscFile(image, "default.xbe", bytes));
  EXPECT_EQ(Text(bytes), Pattern(5000, 1));
  ASSERT_TRUE(ReadDiscFile(image, "Media\\Sound\\Deep\\x.bin", bytes));
  EXPECT_EQ(Text(bytes), Pattern(kSector, 2));
  ASSERT_TRUE(ReadDiscFile(image, "media\\MUSIC.WMA", bytes));
  EXPECT_EQ(Text(bytes), Pattern(70000, 3));

  const DiscEntry* music = FindDiscEntry(image, "Media\\music.wma");
  ASSERT_NE(music, nullptr);
  EXPECT_FALSE(music->folder);
  EXPECT_EQ(music->size, 70000u);
  EXPECT_EQ(music->offset, uint64_t{layout.entries["Media\\music.wma"].sector} * kSector + base);

  const DiscEntry* media = FindDiscEntry(image, "Media");
  ASSERT_NE(media, nullptr);
  EXPECT_TRUE(media->folder);
  EXPECT_EQ(ChildNames(*media), (std::vector<std::string>{"music.wma", "Sound"}));

  const DiscEntry* empty_folder = FindDiscEntry(image, "empty folder");
  ASSERT_NE(empty_folder, nullptr);
  EXPECT_TRUE(empty_folder->folder);
  EXPECT_EQ(empty_folder->size, 0u);
  EXPECT_TRUE(empty_folder->children.empty());

  bytes.assign(3, 'x');
  EXPECT_TRUE(ReadDiscFile(image, "empty.txt", bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReadDiscFile(image, "Media", bytes));
  EXPECT_FALSE(ReadDiscFile(image, "empty folder", bytes));
  EXPECT_FALSE(ReadDiscFile(image, "missing.xbe", bytes));
  EXPECT_FALSE(ReadDiscFile(image, "", bytes));  // the root is a folder

  // Ranges within a file.
  const DiscEntry* xbe = FindDiscEntry(image, "default.xbe");
  ASSERT_NE(xbe, nullptr);
  char range[200] = {};
  EXPECT_EQ(ReadDiscFileRange(image, *xbe, 100, range, 50), 50u);
  EXPECT_EQ(std::string(range, 50), Pattern(5000, 1).substr(100, 50));
  EXPECT_EQ(ReadDiscFileRange(image, *xbe, 4990, range, 200), 10u);
  EXPECT_EQ(std::string(range, 10), Pattern(5000, 1).substr(4990));
  EXPECT_EQ(ReadDiscFileRange(image, *xbe, 5000, range, 200), 0u);
  EXPECT_EQ(ReadDiscFileRange(image, *xbe, ~uint64_t{0}, range, 200), 0u);
  EXPECT_EQ(ReadDiscFileRange(image, *media, 0, range, 200), 0u);
  EXPECT_EQ(ReadDisc(image, 0, range, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DiscImageLayout,
                         ::testing::Values(LayoutCase{"GamePartition", false},
                                           LayoutCase{"WholeDiscSparse", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Look-ups -------------------------------------------------------------------------------

TEST(DiscImage, FindsEntriesByPath) {
  DiscImageWriter writer;
  AddSample(writer);
  writer.AddFile("caf\xC3\xA9.txt", "accent");
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;

  struct Case {
    const char* path;
    const char* found;  // the entry's name; nullptr when missing; "" for the root
  };
  const Case cases[] = {
      {"default.xbe", "default.xbe"},
      {"DEFAULT.XBE", "default.xbe"},
      {"DeFaUlT.xBe", "default.xbe"},
      {".\\default.xbe", "default.xbe"},
      {"\\default.xbe", "default.xbe"},
      {"media\\\\sound\\.\\DEEP\\x.BIN", "x.bin"},
      {"..\\default.xbe", "default.xbe"},
      {"..\\..\\MEDIA\\music.wma", "music.wma"},
      {"Media\\Sound\\..\\..\\..\\default.xbe", "default.xbe"},
      {"Media\\..", ""},
      {"", ""},
      {".", ""},
      {"a/b", "a/b"},  // '/' is part of the name
      {"A/B", "a/b"},
      {"a", nullptr},
      {"a\\b", nullptr},
      {"Media/music.wma", nullptr},
      {"default.xb", nullptr},
      {"default.xbe.", nullptr},
      {"default.xbe\\inside", nullptr},
      {"CAF\xC3\xA9.TXT", "caf\xC3\xA9.txt"},
      {"caf\xC3\x89.txt", nullptr},  // only a to z change case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const DiscEntry* entry = FindDiscEntry(image, c.path);
    if (c.found == nullptr) {
      EXPECT_EQ(entry, nullptr);
    } else {
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(entry->name, c.found);
      if (std::string(c.found).empty()) {
        EXPECT_EQ(entry, &image.root);
      }
    }
  }
  EXPECT_EQ(FindDiscEntryByParts(image, {"MEDIA", "sound", "", "..", "Sound", "deep", "X.bin"}),
            FindDiscEntry(image, "Media\\Sound\\Deep\\x.bin"));
  EXPECT_EQ(FindDiscEntryByParts(image, {"Media\\music.wma"}), nullptr);  // one part, no split
}

TEST(DiscImage, SortsChildrenByUpperCasedUnsignedBytes) {
  DiscImageWriter writer;
  for (const char* name : {"b", "_", "aa", "A", "z1", "Z", "\xE9", "B0"}) writer.AddFile(name, name);
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
  EXPECT_EQ(ChildNames(image.root),
            (std::vector<std::string>{"A", "aa", "b", "B0", "Z", "z1", "_", "\xE9"}));

  auto entry = [](const char* name) {
    DiscEntry e;
    e.name = name;
    return e;
  };
  EXPECT_TRUE(DiscEntryNameLess(entry("abc"), entry("ABCD")));
  EXPECT_FALSE(DiscEntryNameLess(entry("ABCD"), entry("abc")));
  EXPECT_FALSE(DiscEntryNameLess(entry("abc"), entry("ABC")));
  EXPECT_TRUE(DiscEntryNameLess(entry("Z"), entry("\x80")));
}

// --- Recognising an image -------------------------------------------------------------------

TEST(DiscImage, RecognisesTheDescriptorOrFails) {
  test::ScratchDir dir;
  DiscImageWriter sample;
  AddSample(sample);
  const std::vector<uint8_t> valid = sample.Build();
  const std::string bad_end = [] {
    std::string d = DiscImageWriter::DescriptorBytes(33, kSector);
    d[2030] = '?';
    return d;
  }();
  const std::string bad_start = [] {
    std::string d = DiscImageWriter::DescriptorBytes(33, kSector);
    d[0] = 'm';
    return d;
  }();

  struct Case {
    const char* name;
    std::function<void(const fs::path&)> write;
    const char* error;  // "" when the open succeeds
    uint32_t base;
  };
  const std::vector<Case> cases = {
      {"game partition", [&](const fs::path& p) { test::WriteFile(p, valid); }, "", 0},
      {"whole disc", [&](const fs::path& p) { sample.WriteWholeDisc(p); }, "",
       static_cast<uint32_t>(kWholeDiscBase)},
      {"no magic at 2028",
       [&](const fs::path& p) {
         DiscImageWriter w;
         AddSample(w);
         w.Patch(kDiscDescriptorOffset, bad_end);
         w.WriteGamePartition(p);
       },
       "no Xbox disc image", 0},
      {"no magic at 0",
       [&](const fs::path& p) {
         DiscImageWriter w;
         AddSample(w);
         w.Patch(kDiscDescriptorOffset, bad_start);
         w.WriteGamePartition(p);
       },
       "no Xbox disc image", 0},
      // The first copy matches at base 0 but not the second: the whole-disc base is tried.
      {"half a descriptor at 0 before a whole disc",
       [&](const fs::path& p) {
         DiscImageWriter w;
         AddSample(w);
         w.Patch(kDiscDescriptorOffset, bad_end);
         w.WriteWholeDisc(p);
       },
       "", static_cast<uint32_t>(kWholeDiscBase)},
      {"whole disc without the second magic",
       [&](const fs::path& p) {
         DiscImageWriter w;
         AddSample(w);
         w.Patch(kWholeDiscBase + kDiscDescriptorOffset, bad_end);
         w.WriteWholeDisc(p);
       },
       "no Xbox disc image", 0},
      {"one byte short of the descriptor",
       [&](const fs::path& p) {
         test::WriteFile(p, Text(valid).substr(0, kDiscDescriptorOffset + kSector - 1));
       },
       "no Xbox disc image", 0},
      {"just the descriptor, empty root",
       [&](const fs::path& p) {
         DiscImageWriter w;
         const auto bytes = w.Build();
         ASSERT_EQ(bytes.size(), kDiscDescriptorOffset + kSector);
         test::WriteFile(p, bytes);
       },
       "", 0},
      {"cut after the descriptor",
       [&](const fs::path& p) {
         test::WriteFile(p, Text(valid).substr(0, kDiscDescriptorOffset + kSector));
       },
       kDiscImageCutShort, 0},
      {"whole disc cut inside its tables",
       [&](const fs::path& p) {
         sample.WriteWholeDisc(p);
         fs::resize_file(p, kWholeDiscBase + kDiscDescriptorOffset + kSector);
       },
       kDiscImageCutShort, 0},
      {"empty file", [&](const fs::path& p) { test::WriteFile(p, ""); }, "no Xbox disc image", 0},
      {"zeros", [&](const fs::path& p) { test::WriteFile(p, std::string(200000, '\0')); },
       "no Xbox disc image", 0},
      {"missing file", [](const fs::path&) {}, "cannot open the file", 0},
      {"a folder", [](const fs::path& p) { fs::create_directories(p); }, "cannot open the file", 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / ("image" + std::to_string(n++) + ".iso");
    c.write(path);
    DiscImage image;
    std::string error = "left over from before";
    const bool opened = OpenDiscImage(image, path.wstring(), error);
    if (std::string(c.error).empty()) {
      EXPECT_TRUE(opened) << error;
      EXPECT_EQ(image.base, c.base);
    } else {
      EXPECT_FALSE(opened);
      EXPECT_EQ(error, c.error);
    }
  }
}

// --- Corrupt directory tables -----------------------------------------------------------------

std::string Entry(uint16_t left, uint16_t right, const char* name, uint8_t attributes = 0,
                  uint32_t sector = 0, uint32_t size = 0) {
  return DiscImageWriter::EntryBytes(left, right, sector, size, attributes, name);
}

TEST(DiscImage, WalksCorruptTablesWithoutLoopingOrCrashing) {
  struct Case {
    const char* name;
    std::string table;
    std::vector<std::string> children;
  };
  const std::string ff(16, '\xFF');
  std::string name_past_end = Entry(0, 4, "a") + Entry(0, 0, "bcdef");
  name_past_end[16 + 13] = static_cast<char>(200);
  std::string name_one_past_end = Entry(0, 4, "a") + Entry(0, 0, "bc");  // 16 + 14 + 2 = 32
  name_one_past_end.resize(31);
  std::string name_to_the_end = Entry(0, 4, "a") + Entry(0, 0, "bc");
  name_to_the_end.resize(32);
  const std::vector<Case> cases = {
      {"entries pointing at each other",
       Entry(0, 4, "a") + Entry(8, 0, "b") + Entry(4, 8, "c"), {"a", "b", "c"}},
      {"both sides at one entry", Entry(4, 4, "a") + Entry(0, 0, "b"), {"a", "b"}},
      {"padding where a subtree should be", Entry(4, 0, "a") + ff, {"a"}},
      {"padding in place of the root entry", std::string(kSector, '\xFF'), {}},
      {"offsets out of range", Entry(0xFFF0, 3, "a"), {"a"}},
      {"a name running past the table", name_past_end, {"a"}},
      {"a name one byte past the table", name_one_past_end, {"a"}},
      {"a name ending with the table", name_to_the_end, {"a", "bc"}},
      {"a table too small for an entry", std::string(13, '\0'), {}},
      {"zeros after the root entry", Entry(0, 0, "only") + std::string(4000, '\0'), {"only"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiscImageWriter writer;
    writer.SetRawTable("", c.table);
    DiscImage image;
    std::string error;
    ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
    EXPECT_EQ(ChildNames(image.root), c.children);
  }
}

TEST(DiscImage, FolderPointingAtItsOwnTableFailsOnDepth) {
  DiscImageWriter writer;
  const auto size = static_cast<uint32_t>(Entry(0, 0, "loop").size());
  writer.SetRawTable("", Entry(0, 0, "loop", kDiscFolderAttribute, 0, size));
  DiscLayout layout;
  writer.Build(&layout);
  writer.SetRawTable("", Entry(0, 0, "loop", kDiscFolderAttribute, layout.entries[""].sector, size));
  DiscImage image;
  std::string error;
  EXPECT_FALSE(OpenBytes(image, writer.Build(), error));
  EXPECT_EQ(error, "its folders cannot be read");
}

// Folders that share tables could make a small image describe an enormous tree; the walk gives
// up instead of exhausting memory.
TEST(DiscImage, SharedTablesCannotBlowUpTheTree) {
  DiscImageWriter writer;
  constexpr int kLevels = 30;
  const std::string two_folders_size_probe = Entry(0, 4, "x", kDiscFolderAttribute) +
                                             Entry(0, 0, "y", kDiscFolderAttribute);
  const auto table_size = static_cast<uint32_t>(two_folders_size_probe.size());
  // Tables are raw blobs at sectors 33, 34, ...: table k points twice at table k + 1.
  for (int level = 0; level < kLevels; ++level) {
    const uint32_t next = 33 + static_cast<uint32_t>(level) + 1;
    writer.AddRawData(level + 1 == kLevels
                          ? Entry(0, 0, "leaf")
                          : Entry(0, 4, "x", kDiscFolderAttribute, next, table_size) +
                                Entry(0, 0, "y", kDiscFolderAttribute, next, table_size));
  }
  writer.SetRawTable("", Entry(0, 4, "x", kDiscFolderAttribute, 33, table_size) +
                             Entry(0, 0, "y", kDiscFolderAttribute, 33, table_size));
  DiscImage image;
  std::string error;
  EXPECT_FALSE(OpenBytes(image, writer.Build(), error));
  EXPECT_EQ(error, "its folders cannot be read");
  EXPECT_TRUE(image.root.children.empty());
}

std::string NestedPath(int folders) {
  std::string path;
  for (int i = 1; i <= folders; ++i) path += "d" + std::to_string(i) + "\\";
  return path + "file.bin";
}

TEST(DiscImage, TreeDepthLimitIs32) {
  {
    DiscImageWriter writer;  // the deepest table read is at depth 32
    writer.AddFile(NestedPath(32), "deep");
    DiscImage image;
    std::string error;
    ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadDiscFile(image, NestedPath(32), bytes));
    EXPECT_EQ(Text(bytes), "deep");
  }
  {
    DiscImageWriter writer;  // an empty folder at depth 33 is not read, so it does not count
    writer.AddFolder(NestedPath(32).substr(0, NestedPath(32).size() - 8) + "d33");
    DiscImage image;
    std::string error;
    EXPECT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
  }
  {
    DiscImageWriter writer;  // a table at depth 33
    writer.AddFile(NestedPath(33), "too deep");
    DiscImage image;
    std::string error;
    EXPECT_FALSE(OpenBytes(image, writer.Build(), error));
    EXPECT_EQ(error, "its folders cannot be read");
  }
}

TEST(DiscImage, TableSizeLimitIs16MiB) {
  constexpr uint32_t kLimit = 16u << 20;
  std::string big = Entry(0, 0, "inside");
  big.resize(kLimit, '\0');
  {
    DiscImageWriter writer;
    writer.SetRawTable("big", big);
    DiscImage image;
    std::string error;
    ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
    EXPECT_NE(FindDiscEntry(image, "big\\INSIDE"), nullptr);
  }
  for (const char* folder : {"big", ""}) {
    SCOPED_TRACE(folder);
    DiscImageWriter writer;
    writer.AddFile("big\\inside", "x");
    writer.SetTableSize(folder, kLimit + 4);  // rejected before anything of it is read
    DiscLayout layout;
    auto recording = std::make_unique<test::RecordingDiscFile>(
        std::make_unique<test::MemoryDiscFile>(writer.Build(&layout)));
    test::RecordingDiscFile* reads = recording.get();
    DiscImage image;
    std::string error;
    EXPECT_FALSE(OpenDiscImage(image, std::move(recording), L"memory", error));
    EXPECT_EQ(error, "its folders cannot be read");
    for (const auto& attempt : reads->attempts()) EXPECT_LE(attempt.asked, kSector);
  }
}

TEST(DiscImage, EmptyFolderIsNotRead) {
  DiscImageWriter writer;
  writer.AddFile("default.xbe", "x");
  writer.AddFolder("empty");
  writer.SetTableSector("empty", 0x7FFFFF);  // would fail if read
  auto recording = std::make_unique<test::RecordingDiscFile>(
      std::make_unique<test::MemoryDiscFile>(writer.Build()));
  test::RecordingDiscFile* reads = recording.get();
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenDiscImage(image, std::move(recording), L"memory", error)) << error;
  const DiscEntry* empty = FindDiscEntry(image, "EMPTY");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->folder);
  EXPECT_TRUE(empty->children.empty());
  for (const auto& attempt : reads->attempts()) EXPECT_NE(attempt.offset, uint64_t{0x7FFFFF} * kSector);
}

TEST(DiscImage, AFolderPastTheEndFailsTheOpenAsCutShort) {
  for (const char* folder : {"Media\\Sound", ""}) {
    SCOPED_TRACE(folder);
    DiscImageWriter writer;
    AddSample(writer);
    writer.SetTableSector(folder, 0x100000);  // past the end of the image
    DiscImage image;
    std::string error;
    EXPECT_FALSE(OpenBytes(image, writer.Build(), error));
    EXPECT_EQ(error, kDiscImageCutShort);
  }
}

TEST(DiscImage, FilesPastTheEndAreNotReadWhole) {
  DiscImageWriter writer;
  writer.AddFile("default.xbe", "x");
  writer.AddFileAt("far.bin", 0x100000, 100);
  writer.AddFileAt("huge.bin", 33, 0xFFFFFFFF);  // claims 4 GiB from inside the image
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenBytes(image, writer.Build(), error)) << error;
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadDiscFile(image, "far.bin", bytes));
  EXPECT_FALSE(ReadDiscFile(image, "huge.bin", bytes));
  const DiscEntry* huge = FindDiscEntry(image, "huge.bin");
  ASSERT_NE(huge, nullptr);
  std::vector<char> buffer(8 * kSector);
  EXPECT_LT(ReadDiscFileRange(image, *huge, 0, buffer.data(), 8 * kSector), 8 * kSector);
}

// --- What is read -----------------------------------------------------------------------------

TEST_P(DiscImageLayout, ReadsOnlyDescriptorTablesAndTheFile) {
  test::ScratchDir dir;
  DiscImageWriter writer;
  AddSample(writer);
  writer.AddFile("Media\\Sound\\big.bin", std::string(300000, 'b'));
  DiscLayout layout;
  const fs::path path = dir / "game.iso";
  ASSERT_TRUE(GetParam().whole_disc ? writer.WriteWholeDisc(path, &layout)
                                    : writer.WriteGamePartition(path, &layout));
  const uint64_t base = GetParam().whole_disc ? kWholeDiscBase : 0;

  auto recording = std::make_unique<test::RecordingDiscFile>(OpenDiscFile(path.wstring()));
  test::RecordingDiscFile* reads = recording.get();
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenDiscImage(image, std::move(recording), path.wstring(), error)) << error;
  std::vector<uint8_t> xbe;
  ASSERT_TRUE(ReadDiscFile(image, "default.xbe", xbe));

  std::multiset<std::pair<uint64_t, uint32_t>> expected = {{kDiscDescriptorOffset, kSector}};
  if (GetParam().whole_disc) expected.insert({base + kDiscDescriptorOffset, kSector});
  for (const char* folder : {"", "Media", "Media\\Sound", "Media\\Sound\\Deep"}) {
    expected.insert({layout.entries[folder].sector * uint64_t{kSector} + base,
                     layout.entries[folder].size});
  }
  expected.insert({layout.entries["default.xbe"].sector * uint64_t{kSector} + base, 5000});

  std::multiset<std::pair<uint64_t, uint32_t>> actual;
  uint64_t total = 0;
  for (const auto& attempt : reads->attempts()) {
    actual.insert({attempt.offset, attempt.asked});
    EXPECT_EQ(attempt.result.transferred, attempt.asked);
    total += attempt.result.transferred;
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(total, (GetParam().whole_disc ? 2 : 1) * kSector + 4 * uint64_t{kSector} + 5000);
}

// --- Threads -----------------------------------------------------------------------------------

TEST(DiscImage, ManyThreadsReadOneImageAtOnce) {
  test::ScratchDir dir;
  DiscImageWriter writer;
  AddSample(writer);
  ASSERT_TRUE(writer.WriteGamePartition(dir / "game.iso"));
  DiscImage image;
  std::string error;
  ASSERT_TRUE(OpenDiscImage(image, (dir / "game.iso").wstring(), error)) << error;
  const DiscEntry* music = FindDiscEntry(image, "Media\\music.wma");
  ASSERT_NE(music, nullptr);
  const std::string expected = Pattern(70000, 3);

  constexpr int kThreads = 8;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      std::vector<char> buffer(expected.size());
      for (int i = 0; i < 300; ++i) {
        const uint32_t offset = random() % expected.size();
        const uint32_t length = 1 + random() % 9000;
        const uint32_t got = ReadDiscFileRange(image, *music, offset, buffer.data(), length);
        const uint32_t want = std::min<uint32_t>(length, static_cast<uint32_t>(expected.size()) - offset);
        if (got != want || std::string(buffer.data(), got) != expected.substr(offset, want)) {
          ++failures[t];
        }
      }
      std::vector<uint8_t> whole;
      if (!ReadDiscFile(image, "default.xbe", whole) || Text(whole) != Pattern(5000, 1)) ++failures[t];
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

// --- The current image ---------------------------------------------------------------------

class WatchedFile final : public DiscFile {
 public:
  explicit WatchedFile(bool& destroyed) : destroyed_(destroyed) {}
  ~WatchedFile() override { destroyed_ = true; }
  DiscReadResult ReadAt(uint64_t, void*, uint32_t) override { return {0, 0}; }
  uint64_t Size() override { return 0; }

 private:
  bool& destroyed_;
};

TEST(DiscImage, CurrentImageIsOwnedBySlot) {
  bool first_gone = false, second_gone = false;
  auto first = std::make_unique<DiscImage>();
  first->file = std::make_unique<WatchedFile>(first_gone);
  DiscImage* first_raw = first.get();
  SetCurrentDiscImage(std::move(first));
  EXPECT_EQ(CurrentDiscImage(), first_raw);

  auto second = std::make_unique<DiscImage>();
  second->file = std::make_unique<WatchedFile>(second_gone);
  DiscImage* second_raw = second.get();
  SetCurrentDiscImage(std::move(second));
  EXPECT_TRUE(first_gone);
  EXPECT_FALSE(second_gone);
  EXPECT_EQ(CurrentDiscImage(), second_raw);

  DestroyCurrentDiscImage();
  EXPECT_TRUE(second_gone);
  EXPECT_EQ(CurrentDiscImage(), nullptr);
}

// --- Bad input never crashes -----------------------------------------------------------------

// Looks everything up and reads every file of the tree (bounded), checking what can be checked.
void Explore(DiscImage& image, const DiscEntry& folder, std::vector<std::string_view>& parts,
             int& budget) {
  for (const DiscEntry& child : folder.children) {
    if (--budget < 0) return;
    parts.push_back(child.name);
    FindDiscEntryByParts(image, parts);  // a stored ".." or "" part resolves elsewhere
    if (child.folder) {
      Explore(image, child, parts, budget);
    } else {
      std::vector<uint8_t> bytes;
      char buffer[64];
      ReadDiscFileRange(image, child, child.size / 2, buffer, sizeof buffer);
      std::string path;
      for (std::string_view part : parts) path += std::string(part) + "\\";
      path.pop_back();
      if (ReadDiscFile(image, path, bytes)) {
        // A name with a backslash or a ".." may resolve elsewhere; the size must still match.
        const DiscEntry* found = FindDiscEntry(image, path);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(bytes.size(), found->size);
      }
    }
    parts.pop_back();
  }
}

// Whether the image opened with at least one entry (so the look-ups and reads ran).
bool OpenAndExplore(std::vector<uint8_t> bytes) {
  DiscImage image;
  std::string error;
  if (!OpenBytes(image, std::move(bytes), error)) {
    EXPECT_TRUE(error == "no Xbox disc image" || error == "its folders cannot be read" ||
                error == kDiscImageCutShort)
        << error;
    return false;
  }
  std::vector<std::string_view> parts;
  int budget = 5000;
  Explore(image, image.root, parts, budget);
  return !image.root.children.empty();
}

// Random entries: links, sectors and sizes mostly near the image, so that look-ups and reads run.
std::string RandomTable(std::mt19937& random, uint32_t sectors) {
  std::string table;
  const int entries = 1 + static_cast<int>(random() % 12);
  for (int e = 0; e < entries; ++e) {
    std::string name(random() % 12, '\0');
    for (char& c : name) c = static_cast<char>(random() % 4 == 0 ? '.' : 'a' + random() % 26);
    const uint8_t attributes = random() % 10 == 0 ? kDiscFolderAttribute : 0;
    const uint32_t size = random() % 8 == 0 && attributes == 0 ? random() : random() % (2 * kSector);
    table += DiscImageWriter::EntryBytes(static_cast<uint16_t>(random() % 48),
                                         static_cast<uint16_t>(random() % 48),
                                         random() % (sectors + 2), size, attributes, name);
  }
  return table;
}

TEST(DiscImage, RandomImagesNeverCrash) {
  std::mt19937 random(20240601);
  int explored = 0;
  for (int i = 0; i < 400; ++i) {
    const bool only_random = i % 4 == 0;
    std::vector<uint8_t> bytes(only_random ? random() % (kDiscDescriptorOffset + 12 * kSector)
                                           : kDiscDescriptorOffset + (2 + random() % 10) * kSector +
                                                 random() % kSector);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    if (only_random) {
      OpenAndExplore(std::move(bytes));
      continue;
    }
    // A valid descriptor over random tables: raw random bytes, or random entries.
    const auto sectors = static_cast<uint32_t>(bytes.size() / kSector);
    uint32_t root = 33 + random() % (sectors - 32);
    uint32_t size = i % 7 == 0 ? random() : random() % (3 * kSector);
    if (i % 2 == 0) {
      for (uint32_t sector = 33; sector < sectors; ++sector) {
        const std::string table = RandomTable(random, sectors).substr(0, kSector);
        std::copy(table.begin(), table.end(), bytes.begin() + sector * size_t{kSector});
        if (sector == root) size = static_cast<uint32_t>(table.size());
      }
    }
    const std::string d = DiscImageWriter::DescriptorBytes(root, size);
    std::copy(d.begin(), d.end(), bytes.begin() + kDiscDescriptorOffset);
    explored += OpenAndExplore(std::move(bytes)) ? 1 : 0;
  }
  EXPECT_GT(explored, 60);  // enough of them opened for the look-ups and reads to have run
}

TEST(DiscImage, MutatedAndTruncatedImagesNeverCrash) {
  DiscImageWriter writer;
  AddSample(writer);
  for (int i = 0; i < 20; ++i) writer.AddFile("Media\\Sound\\f" + std::to_string(i), Pattern(100 + i, i));
  DiscLayout layout;
  const std::vector<uint8_t> valid = writer.Build(&layout);
  // The descriptor and the tables come first; most mutations land there.
  const size_t meta_end = (layout.entries["Media\\Sound\\Deep"].sector + 1) * size_t{kSector};

  std::mt19937 random(7);
  int explored = 0;
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> bytes = valid;
    if (i % 5 == 0) {
      bytes.resize(random() % valid.size());
    } else {
      const int changes = 1 + static_cast<int>(random() % 8);
      for (int c = 0; c < changes; ++c) {
        const size_t at = kDiscDescriptorOffset + random() % (meta_end - kDiscDescriptorOffset);
        bytes[at] = static_cast<uint8_t>(random() % 3 == 0 ? 0xFF : random());
      }
    }
    explored += OpenAndExplore(std::move(bytes)) ? 1 : 0;
  }
  EXPECT_GT(explored, 100);
}

}  // namespace
}  // namespace launcher
