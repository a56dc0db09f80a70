#include "support/zip_writer.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>

#include "platform/platform.h"
#include "support/scratch.h"

namespace launcher::test {
namespace fs = std::filesystem;
namespace {

uint32_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t Le32(const std::string& bytes, size_t at) {
  return Le16(bytes, at) | (Le16(bytes, at + 2) << 16);
}

void PutLe16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xff);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// Each header with `signature` that names `name` (its name length at `length_at`, the name at
// `name_at`) gets `method` at `method_at`; the count of headers changed.
int PutMethod(std::string& bytes, const std::string& signature, size_t length_at, size_t name_at,
              size_t method_at, const std::string& name, uint16_t method) {
  int changed = 0;
  for (size_t at = bytes.find(signature); at != std::string::npos;
       at = bytes.find(signature, at + 1)) {
    if (at + name_at + name.size() > bytes.size()) break;
    if (Le16(bytes, at + length_at) == name.size() &&
        bytes.compare(at + name_at, name.size(), name) == 0) {
      PutLe16(bytes, at + method_at, method);
      ++changed;
    }
  }
  return changed;
}

}  // namespace

void WriteZip(const fs::path& path, const std::vector<ZipEntry>& entries) {
  int code = 0;
  zip_t* archive = zip_open(PathToUtf8(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(archive, nullptr) << "cannot create " << path << " (libzip " << code << ")";
  for (const ZipEntry& entry : entries) {
    zip_int64_t index;
    if (entry.folder) {
      index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      // libzip keeps the source until zip_close, so the entry's data must outlive it: the
      // vector is not changed before then.
      zip_source_t* source =
          zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
      ASSERT_NE(source, nullptr);
      index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
      if (index < 0) zip_source_free(source);
    }
    ASSERT_GE(index, 0) << "cannot add " << entry.name << ": " << zip_strerror(archive);
    const auto i = static_cast<zip_uint64_t>(index);
    if (!entry.folder) {
      ASSERT_EQ(zip_set_file_compression(archive, i, entry.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                         0),
                0);
    }
    if (entry.unix_mode != 0) {
      ASSERT_EQ(zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX,
                                                 (0100000u | entry.unix_mode) << 16),
                0);
    }
  }
  ASSERT_EQ(zip_close(archive), 0) << "cannot write " << path;
}

void DamageZipEntry(const fs::path& path, const std::string& name) {
  std::string bytes = ReadFile(path);
  // Local file header: signature, ..., compressed size at 18, name length at 26, extra length
  // at 28, the name at 30, then the extra field and the data.
  size_t at = 0;
  for (;;) {
    at = bytes.find(std::string("PK\x03\x04", 4), at);
    ASSERT_NE(at, std::string::npos) << name << " is not in " << path;
    if (bytes.compare(at + 30, name.size(), name) == 0 && Le16(bytes, at + 26) == name.size()) {
      break;
    }
    ++at;
  }
  const uint32_t stored = Le32(bytes, at + 18);
  ASSERT_GT(stored, 0u) << name << " has no data to damage";
  const size_t data = at + 30 + Le16(bytes, at + 26) + Le16(bytes, at + 28);
  for (size_t i = stored / 2; i < stored && i < stored / 2 + 8; ++i) bytes[data + i] ^= 0x5a;
  WriteFile(path, bytes);
}

void SetZipEntryMethod(const fs::path& path, const std::string& name, uint16_t method) {
  std::string bytes = ReadFile(path);
  // Local header: method at 8, name length at 26, name at 30. Central directory header: method
  // at 10, name length at 28, name at 46.
  EXPECT_EQ(PutMethod(bytes, std::string("PK\x03\x04", 4), 26, 30, 8, name, method), 1) << name;
  EXPECT_EQ(PutMethod(bytes, std::string("PK\x01\x02", 4), 28, 46, 10, name, method), 1) << name;
  WriteFile(path, bytes);
}

}  // namespace launcher::test
