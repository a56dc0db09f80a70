// Writes the disc image that a test build of the launcher accepts (CMake's LAUNCHER_TEST_DISC):
// a whole Xbox disc whose default.xbe holds the bytes the build names.
//   make_test_disc IMAGE [SIZE]
// With SIZE (bytes) the image is made that long by a hole at its end, so that a copy of it takes
// a while without the image taking room on its drive. Exits 0 when the image is written.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/disc_image_writer.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_test_disc IMAGE [SIZE]\n");
    return 2;
  }
  const std::filesystem::path image = argv[1];
  launcher::test::DiscImageWriter writer;
  writer.AddFile("default.xbe", LAUNCHER_TEST_DISC_XBE);
  if (!writer.WriteWholeDisc(image)) {
    std::fprintf(stderr, "make_test_disc: could not write %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    const unsigned long long size = std::strtoull(argv[2], nullptr, 10);
    std::error_code ec;
    if (size > std::filesystem::file_size(image, ec) && !ec) {
      std::filesystem::resize_file(image, size, ec);
    }
    if (ec) {
      std::fprintf(stderr, "make_test_disc: could not make %s %llu bytes long: %s\n", argv[1],
                   size, ec.message().c_str());
      return 1;
    }
  }
  return 0;
}
