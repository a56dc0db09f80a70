// fuzz_seeds <folder>: writes every registered target's seeds to <folder>/<target>/, replacing
// what was there.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "seeds/seeds.h"

namespace launcher::fuzz {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::vector<SeedMaker>>& Registry() {
  static std::map<std::string, std::vector<SeedMaker>> registry;
  return registry;
}

class FolderSeeds final : public Seeds {
 public:
  explicit FolderSeeds(fs::path folder) : folder_(std::move(folder)) {}

  void Add(const std::string& name, std::string_view bytes) override {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (folder_ / name).string().c_str());
      failed = true;
    }
  }

  bool failed = false;

 private:
  fs::path folder_;
};

}  // namespace

bool RegisterSeeds(const std::string& target, SeedMaker maker) {
  Registry()[target].push_back(std::move(maker));
  return true;
}

}  // namespace launcher::fuzz

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace launcher::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
    return 2;
  }
  bool failed = false;
  for (const auto& [target, makers] : Registry()) {
    const fs::path folder = fs::path(argv[1]) / target;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    if (ec) {
      std::fprintf(stderr, "fuzz_seeds: cannot make %s\n", folder.string().c_str());
      return 1;
    }
    FolderSeeds seeds(folder);
    for (const SeedMaker& make : makers) make(seeds);
    failed = failed || seeds.failed;
  }
  return failed ? 1 : 0;
}
