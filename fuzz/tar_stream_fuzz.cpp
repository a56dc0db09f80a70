// The tar reader takes its stream in pieces of any size: fed in pieces it writes the same files
// and fails the same way as fed whole, only inside its destination.
//
// Input: two bytes giving the piece size (1 to 1100; 0 makes each piece one byte longer than the
// one before, from 1), one byte choosing the mapper, then the tar stream.
#include <cstdint>
#include <map>
#include <string>

#include "archive_mappers.h"
#include "fuzz_support.h"
#include "platform/tar_reader.h"
#include "support/file_tree.h"

namespace launcher::fuzz {
namespace {

struct Outcome {
  bool ok = false;
  std::string error;
  std::map<std::string, std::string> files;
};

Outcome Unpack(const std::filesystem::path& root, const NameMapper& mapper, const uint8_t* data,
               size_t size, size_t piece) {
  Outcome outcome;
  {
    TarReader reader(root / "out", mapper, "stream.tar");
    outcome.ok = true;
    size_t grow = 1;
    for (size_t at = 0; at < size && outcome.ok;) {
      const size_t want = piece == 0 ? grow++ : piece;
      const size_t take = std::min(want, size - at);
      outcome.ok = reader.Feed(data + at, take, outcome.error);
      at += take;
    }
    if (outcome.ok) outcome.ok = reader.Finish(outcome.error);
  }
  Check(outcome.ok || !outcome.error.empty(), "a failed unpack gave no sentence");
  CheckOnlyInside(root);
  outcome.files = test::FilesUnder(root / "out");
  return outcome;
}

}  // namespace
}  // namespace launcher::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size < 3) return 0;
  const size_t piece_choice = data[0] | (size_t{data[1]} << 8);
  const size_t piece = piece_choice == 0 ? 0 : piece_choice % 1100 + 1;
  const NameMapper mapper = ChooseMapper(data[2]);
  data += 3;
  size -= 3;

  const Outcome whole = Unpack(FreshFolder("root"), mapper, data, size, size == 0 ? 1 : size);
  const Outcome pieces = Unpack(FreshFolder("root"), mapper, data, size, piece);
  Check(whole.ok == pieces.ok && whole.error == pieces.error,
        "fed in pieces the unpack ended otherwise: \"" + pieces.error + "\" against \"" +
            whole.error + "\"");
  Check(whole.files == pieces.files, "fed in pieces the unpack wrote other files");
  return 0;
}
