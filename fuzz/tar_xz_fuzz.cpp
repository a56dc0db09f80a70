// Tar.xz unpacking through each of the launcher's name mappers: it writes only plain files and
// folders inside its destination (links become copies or nothing), and a failure comes with one
// sentence. A tar stream compressed here unpacks exactly as the tar reader alone reads it, so
// the decoder and the thread that writes the files lose, reorder and add nothing.
//
// Input: one byte (bit 0: the rest is the .xz file as it is; else the rest is a tar stream,
// compressed here; bits 1 and 2: the mapper), then the bytes.
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "archive_mappers.h"
#include "fuzz_support.h"
#include "platform/tar_reader.h"
#include "platform/tar_xz.h"
#include "support/file_tree.h"
#include "support/tar_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 1) return 0;
  const bool raw_xz = (data[0] & 1) != 0;
  const NameMapper mapper = ChooseMapper(data[0] >> 1);
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string file = raw_xz ? std::string(rest) : test::XzCompress(rest, 0, 0);
  const std::filesystem::path in = FreshFolder("in");
  std::filesystem::path root = FreshFolder("root");
  {
    std::ofstream out(in / "fuzz.tar.xz", std::ios::binary);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    Check(out.good(), "cannot write the archive");
  }
  std::string error;
  uint64_t last_done = 0;
  const ProgressFn progress = [&](uint64_t done, uint64_t total) {
    Check(done >= last_done && done <= total, "progress went back or past its total");
    last_done = done;
  };
  const bool ok = ExtractTarXz(in / "fuzz.tar.xz", root / "out", mapper, progress, nullptr, error);
  Check(ok || !error.empty(), "a failed unpack gave no sentence");
  CheckOnlyInside(root);
  if (raw_xz) return 0;

  const std::map<std::string, std::string> files = test::FilesUnder(root / "out");
  root = FreshFolder("root");
  std::string reader_error;
  bool reader_ok;
  {
    TarReader reader(root / "out", mapper, in / "fuzz.tar.xz");
    reader_ok = reader.Feed(data + 1, size - 1, reader_error) && reader.Finish(reader_error);
  }
  Check(ok == reader_ok && error == reader_error,
        "unpacked from xz the tar ended otherwise: \"" + error + "\" against \"" + reader_error +
            "\"");
  Check(files == test::FilesUnder(root / "out"), "unpacked from xz the tar wrote other files");
  return 0;
}
