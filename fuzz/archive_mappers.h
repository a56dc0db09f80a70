// The name mappers the launcher hands to its unpackers, chosen by one byte of a fuzz input, so
// that the archive fuzz targets cover each road a name can take.
#pragma once

#include <cstdint>
#include <string>

#include "builder/builder.h"
#include "catalogue/entry_names.h"
#include "catalogue/toolchain.h"
#include "platform/zip.h"

namespace launcher::fuzz {

inline NameMapper ChooseMapper(uint8_t choice) {
  switch (choice % 4) {
    case 0:
      return {};  // the identity
    case 1:
      return MapPackageEntry;
    case 2: {
      Tool tool;  // shaped like the built-in Clang tool
      tool.kind = "tar.xz";
      tool.strip = 1;
      tool.keep = {"bin/clang.exe", "bin/*.dll", "lib/clang/", "x/"};
      return [tool](const std::string& name) { return MapEntryName(tool, name); };
    }
    default: {
      Tool tool;
      tool.kind = "vsix";
      return [tool](const std::string& name) { return MapEntryName(tool, name); };
    }
  }
}

}  // namespace launcher::fuzz
