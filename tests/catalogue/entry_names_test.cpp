#include "catalogue/entry_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/archive_path.h"

namespace launcher {
namespace {

struct MapCase {
  std::string name;
  std::string expected;  // "" = left out
};

Tool MakeTool(const std::string& kind, int strip, std::vector<std::string> keep) {
  Tool tool;
  tool.kind = kind;
  tool.strip = strip;
  tool.keep = std::move(keep);
  return tool;
}

void ExpectMaps(const Tool& tool, const std::vector<MapCase>& cases) {
  for (const MapCase& c : cases) {
    EXPECT_EQ(MapEntryName(tool, c.name), c.expected) << "entry \"" << c.name << "\"";
  }
}

// The keep list of the built-in Clang tool.
Tool ClangTool() {
  return MakeTool("tar.xz", 1,
                  {"bin/clang.exe", "bin/clang++.exe", "bin/clang-cl.exe", "bin/lld-link.exe",
                   "bin/lld.exe", "bin/llvm-ar.exe", "bin/llvm-lib.exe", "bin/llvm-rc.exe",
                   "bin/llvm-mt.exe", "bin/llvm-ranlib.exe", "bin/api-ms-win-*.dll",
                   "bin/ucrtbase.dll", "bin/msvcp140*.dll", "bin/vcruntime140*.dll",
                   "bin/concrt140.dll", "lib/clang/"});
}

TEST(EntryNames, ClangKeepList) {
  ExpectMaps(ClangTool(), {
                              {"top/bin/clang.exe", "bin/clang.exe"},
                              {"top/bin/clang.exe.manifest", ""},
                              {"top/bin/clang++.exe", "bin/clang++.exe"},
                              {"top/bin/api-ms-win-core-file-l1-1-0.dll",
                               "bin/api-ms-win-core-file-l1-1-0.dll"},
                              {"top/bin/msvcp140.dll", "bin/msvcp140.dll"},  // '*' takes nothing
                              {"top/bin/msvcp140_atomic_wait.dll", "bin/msvcp140_atomic_wait.dll"},
                              {"top/bin/msvcp140/x.dll", ""},  // '*' does not cross '/'
                              {"top/lib/clang/19/include/stddef.h", "lib/clang/19/include/stddef.h"},
                              {"top/lib/clang", ""},  // the prefix needs its '/'
                              {"top/include/llvm/x.h", ""},
                              {"top/bin/", ""},  // a folder entry
                              {"top", ""},       // nothing left after the strip
                              {"top/BIN/clang.exe", ""},  // case counts
                          });
}

TEST(EntryNames, CMakeAndNinja) {
  ExpectMaps(MakeTool("zip", 1, {"bin/", "share/"}), {
                                                         {"top/bin/cmake.exe", "bin/cmake.exe"},
                                                         {"top/share/x/y.cmake", "share/x/y.cmake"},
                                                         {"top/doc/z.txt", ""},
                                                     });
  ExpectMaps(MakeTool("zip", 0, {}), {
                                         {"ninja.exe", "ninja.exe"},
                                         {"sub/a.txt", "sub/a.txt"},
                                         {"sub/", ""},
                                     });
}

TEST(EntryNames, VsixPackages) {
  ExpectMaps(MakeTool("vsix", 0, {}), {
                                          {"Contents/VC/include/a%20b.h", "VC/include/a b.h"},
                                          {"Contents%2FVC/x.h", "VC/x.h"},  // decoded first
                                          {"Contents%2fVC/x.h", "VC/x.h"},
                                          {"extension.vsixmanifest", ""},
                                          {"[Content_Types].xml", ""},
                                          {"contents/x.h", ""},
                                          {"Contents/", ""},
                                          {"Contents/VC/", ""},
                                      });
  // Names of other kinds are not decoded.
  ExpectMaps(MakeTool("zip", 0, {}), {{"Contents/a%20b.h", "Contents/a%20b.h"}});
}

TEST(EntryNames, StripThenKeepOnVsix) {
  ExpectMaps(MakeTool("vsix", 1, {"include/"}), {
                                                    {"Contents/VC/include/a.h", "include/a.h"},
                                                    {"Contents/VC/lib/a.lib", ""},
                                                });
}

TEST(EntryNames, GlobRules) {
  struct GlobCase {
    std::string pattern;
    std::string name;
    bool keeps;
  };
  const GlobCase cases[] = {
      {"*", "a", true},
      {"*", "a/b", false},
      {"*/*", "a/b", true},
      {"a*", "a", true},                // '*' may match the empty run
      {"a**", "ab", true},              // stars left at the end match the empty run
      {"*.dll", "x.dll.dll", true},     // the star takes more after a mismatch
      {"*.dll", "x.dll.txt", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbY/c", false},
      {"a?c", "abc", false},            // '?' matches only itself
      {"a?c", "a?c", true},
      {"bin/*", "bin/sub/x", false},
      {"x", "xy", false},               // the whole name must match
      {"xy", "x", false},
      {"", "x", false},                 // an empty pattern matches no name
      {"a/*x", "a/b/x", false},
  };
  for (const GlobCase& c : cases) {
    const Tool tool = MakeTool("zip", 0, {c.pattern});
    EXPECT_EQ(MapEntryName(tool, c.name), c.keeps ? c.name : "")
        << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
  }
}

TEST(EntryNames, FirstMatchingPatternKeepsAndEmptyPatternKeepsNothing) {
  ExpectMaps(MakeTool("zip", 0, {"", "b/"}), {
                                                 {"b/x", "b/x"},
                                                 {"c", ""},
                                             });
}

TEST(EntryNames, StripComponents) {
  struct StripCase {
    std::string name;
    int count;
    std::string expected;
  };
  const StripCase cases[] = {
      {"a/b/c", 0, "a/b/c"},  {"a/b/c", -3, "a/b/c"}, {"a/b/c", 1, "b/c"}, {"a/b/c", 2, "c"},
      {"a/b/c", 3, ""},       {"a/b/", 2, ""},        {"a//b", 1, "/b"},   {"a//b", 2, "b"},
      {"top", 1, ""},         {"/x", 1, "x"},         {"", 1, ""},
  };
  for (const StripCase& c : cases) {
    EXPECT_EQ(StripComponents(c.name, c.count), c.expected) << c.name << " strip " << c.count;
  }
}

// The mapper's result still goes through the unpackers' safe-path rule: an empty component
// left by the strip becomes a leading '/', which the rule refuses.
TEST(EntryNames, EmptyComponentAfterStripIsRefusedByTheSafePathRule) {
  const std::string mapped = MapEntryName(MakeTool("zip", 1, {}), "a//b");
  EXPECT_EQ(mapped, "/b");
  EXPECT_FALSE(IsSafeArchivePath(mapped));
}

}  // namespace
}  // namespace launcher
