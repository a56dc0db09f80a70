// Archives for the zip, tar.xz and tar stream targets, made with the tests' writers.
#include <cstdint>
#include <string>
#include <vector>

#include "seeds/seeds.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher::fuzz {
namespace {

using test::TarHeader;
using test::TarSize;
using test::TarWriter;
using test::ZipEntry;

// A tar stream with each kind of entry the reader handles.
std::string SampleTar() {
  TarWriter tar;
  tar.Folder("top/");
  tar.File("top/bin/clang.exe", "clang", 0755);
  tar.Symlink("top/bin/clang++.exe", "clang.exe");
  tar.HardLink("top/bin/lld.exe", "top/bin/clang.exe");
  tar.Symlink("top/bin/up", "../bin/clang.exe");
  tar.LongName("top/lib/clang/" + std::string(120, 'n') + ".h");
  tar.File("ignored", "long");
  tar.Pax({{"path", "top/lib/clang/pax.h"}, {"mtime", "1"}});
  tar.File("ignored", "pax");
  tar.LongLinkName("top/bin/clang.exe");
  tar.Symlink("top/bin/long-link", "x");
  tar.Add(TarHeader{.name = "c.h", .prefix = "top/x/b", .type = '0'}, "prefix");
  tar.Add(TarHeader{.name = "top/x/spaces", .type = '0', .size_style = TarSize::kLeadingSpaces},
          "spaces");
  tar.Add(TarHeader{.name = "top/x/base256", .type = '0', .size_style = TarSize::kBase256},
          "base-256");
  tar.Pax({{"comment", "global"}}, 'g');
  tar.File("top/x/empty", "");
  tar.File("../escape", "unsafe");
  return tar.Finish();
}

std::string SmallTar() {
  TarWriter tar;
  tar.File("a.txt", "a");
  return tar.Finish();
}

// Sparse entries, refused: a pax 1.0 one and an old GNU one.
std::string SparseTar() {
  TarWriter tar;
  tar.File("a.txt", "a");
  tar.Pax({{"GNU.sparse.major", "1"},
           {"GNU.sparse.minor", "0"},
           {"GNU.sparse.name", "sp"},
           {"GNU.sparse.realsize", "1048576"}});
  tar.File("./GNUSparseFile.1/sp", std::string(1024, 's'));
  tar.Add(TarHeader{.name = "old-sp", .type = 'S'}, std::string(512, 's'));
  return tar.Finish();
}

// A stream cut inside a file's data.
std::string CutTar() {
  TarWriter tar;
  tar.File("a.txt", "a");
  tar.File("cut.bin", std::string(2000, 'c'));
  return tar.bytes().substr(0, 1024 + 512 + 700);
}

std::string ZipBytes(const std::vector<ZipEntry>& entries, uint16_t method = 0) {
  test::ScratchDir dir;
  test::WriteZip(dir / "seed.zip", entries);
  if (method != 0) test::SetZipEntryMethod(dir / "seed.zip", entries.back().name, method);
  return test::ReadFile(dir / "seed.zip");
}

void MakeZipSeeds(Seeds& out) {
  const std::vector<ZipEntry> sample = {
      {.name = "top/"},
      {.name = "top/bin/cmake.exe", .data = "cmake", .unix_mode = 0100755},
      {.name = "top\\share\\x.cmake", .data = std::string(2000, 's')},
      {.name = "top/doc/z.txt", .data = "stored", .deflate = false},
      {.name = "Contents/VC/include/a%20b.h", .data = "vsix"},
      {.name = "hdd/save", .data = "player's"},
      {.name = "empty", .data = ""},
  };
  for (char mapper = 0; mapper < 4; ++mapper) {
    out.Add("sample_mapper" + std::to_string(int(mapper)),
            std::string(1, mapper) + ZipBytes(sample));
  }
  out.Add("unsafe", std::string(1, 0) + ZipBytes({{.name = "a/../../x", .data = "x"}}));
  out.Add("empty", std::string(1, 0) + ZipBytes({}));
  out.Add(
      "deflate64",
      std::string(1, 0) + ZipBytes({{.name = "a", .data = "a"},
                                    {.name = "b", .data = std::string(300, 'b'), .deflate = false}},
                                   9));
}

void MakeTarXzSeeds(Seeds& out) {
  out.Add("tar_identity", std::string(1, 0) + SampleTar());
  out.Add("tar_clang_rules", std::string(1, 4) + SampleTar());
  out.Add("xz_identity", std::string(1, 1) + test::XzCompress(SampleTar(), 0, 0));
  out.Add("xz_small", std::string(1, 1) + test::XzCompress(SmallTar(), 0, 0));
  out.Add("tar_sparse", std::string(1, 0) + SparseTar());
  out.Add("tar_cut", std::string(1, 0) + CutTar());
}

void MakeTarStreamSeeds(Seeds& out) {
  out.Add("bytes", std::string("\x01\x00\x00", 3) + SampleTar());
  out.Add("growing", std::string("\x00\x00\x00", 3) + SampleTar());
  out.Add("odd_pieces", std::string("\xff\x01\x02", 3) + SampleTar());
  out.Add("small", std::string("\x07\x00\x01", 3) + SmallTar());
  out.Add("sparse", std::string("\x05\x01\x00", 3) + SparseTar());
  out.Add("cut", std::string("\x03\x00\x00", 3) + CutTar());
}

const bool registered = RegisterSeeds("zip", MakeZipSeeds) &&
                        RegisterSeeds("tar_xz", MakeTarXzSeeds) &&
                        RegisterSeeds("tar_stream", MakeTarStreamSeeds);

}  // namespace
}  // namespace launcher::fuzz
