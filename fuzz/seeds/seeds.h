// The starting inputs of the fuzz targets, written by the program fuzz_seeds into
// <folder>/<target>/ (the target's file name without "_fuzz.cpp"). Each file of fuzz/seeds/
// registers the seeds of one or more targets:
//
//   const bool registered = launcher::fuzz::RegisterSeeds("zip", [](launcher::fuzz::Seeds& out) {
//     out.Add("empty.zip", bytes);
//   });
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::fuzz {

// Where one target's seeds go.
class Seeds {
 public:
  virtual ~Seeds() = default;
  virtual void Add(const std::string& name, std::string_view bytes) = 0;
  void Add(const std::string& name, const std::vector<uint8_t>& bytes) {
    Add(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
};

using SeedMaker = std::function<void(Seeds&)>;

// Adds a maker for `target`; returns true, so that a file can call it in a static initializer.
bool RegisterSeeds(const std::string& target, SeedMaker maker);

}  // namespace launcher::fuzz
