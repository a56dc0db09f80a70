// Reads ST.DB the way the game does, page by page, for the music tests; independent of the
// code that writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace launcher::test {

class DbReader {
 public:
  explicit DbReader(const std::string& bytes) : bytes_(bytes) {}

  uint32_t U32(std::size_t offset) const {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | uint8_t(bytes_.at(offset + i));
    return value;
  }
  // The UTF-16 units of a name slot, up to the first zero unit (at most 32).
  std::u16string Name(std::size_t offset) const {
    std::u16string units;
    for (std::size_t i = 0; i < 32; ++i) {
      const auto unit = char16_t(uint8_t(bytes_.at(offset + 2 * i)) |
                                 (uint8_t(bytes_.at(offset + 2 * i + 1)) << 8));
      if (unit == 0) break;
      units.push_back(unit);
    }
    return units;
  }
  // A name slot of ASCII text.
  std::string AsciiName(std::size_t offset) const {
    std::string name;
    for (const char16_t unit : Name(offset)) name += char(unit);
    return name;
  }
  std::size_t SoundtrackPage(uint32_t id) const { return 512 * id; }
  std::size_t BlockPage(uint32_t global) const { return 51712 + 512 * global; }
  bool ZeroFrom(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i) {
      if (bytes_.at(i) != 0) return false;
    }
    return true;
  }

 private:
  const std::string& bytes_;
};

}  // namespace launcher::test
