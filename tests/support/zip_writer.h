// Zip archives made at run time with libzip for the unpacker's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher::test {

struct ZipEntry {
  std::string name;  // stored as given: '\' separators and a trailing '/' stay as they are
  std::string data;
  bool folder = false;    // a folder entry (libzip adds the '/' when the name has none)
  bool deflate = true;    // else stored
  uint32_t unix_mode = 0; // when set, the entry carries these Unix permissions
};

// Writes a zip holding the entries in this order; fails the test when libzip cannot.
void WriteZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries);

// Flips bytes in the middle of the named entry's data as the archive stores it, so that its
// checksum (or for a deflated entry its compressed data) no longer reads; the directory of
// the archive stays intact.
void DamageZipEntry(const std::filesystem::path& path, const std::string& name);

// Rewrites the compression method of the named entry, in its local header and in the central
// directory, leaving its data as it is: the entry then claims a method (7-Zip's Deflate64 is 9,
// PPMd 98) that its bytes were never compressed with.
void SetZipEntryMethod(const std::filesystem::path& path, const std::string& name, uint16_t method);

}  // namespace launcher::test
