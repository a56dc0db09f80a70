// Zip unpacking of any file through each of the launcher's name mappers: it writes only plain
// files and folders inside its destination, and a failure comes with one sentence.
//
// Input: one byte choosing the mapper, then the zip file's bytes.
#include <cstdint>
#include <fstream>
#include <string>

#include "archive_mappers.h"
#include "fuzz_support.h"
#include "platform/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 1) return 0;
  const std::filesystem::path in = FreshFolder("in");
  const std::filesystem::path root = FreshFolder("root");
  {
    std::ofstream out(in / "fuzz.zip", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    Check(out.good(), "cannot write the zip");
  }
  std::string error;
  const bool ok = ExtractZip(in / "fuzz.zip", root / "out", ChooseMapper(data[0]), nullptr,
                             nullptr, error);
  Check(ok || !error.empty(), "a failed unpack gave no sentence");
  CheckOnlyInside(root);
  return 0;
}
