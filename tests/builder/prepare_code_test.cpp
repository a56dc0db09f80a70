// The game's "--prepare-code" output lines, and putting the staged version in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

constexpr int64_t kSecond = 1000000000;

TEST_F(BuilderTest, PrepareLinesBecomeStatusReportsOrLogLines) {
  const char* const kTitle = "Building Halvorn for this PC";
  const struct {
    const char* line;
    double elapsed;
    const char* detail;  // null: no status report
    double fraction;
    const char* logged;  // null: not logged
  } cases[] = {
      {"progress 1 12 340 100 1000", 20, "12 of 340 files, about 3 min left", 0.1, nullptr},
      {"progress 2 300 340 900 1000", 10, "300 of 340 files, under a minute left", 0.9, nullptr},
      // The estimate before rounding: 59.6 s, 59.4 s, 89 s, 90 s.
      {"progress 1 1 9 10 110", 5.96, "1 of 9 files, about 1 min left", 10.0 / 110, nullptr},
      {"progress 1 1 9 10 110", 5.94, "1 of 9 files, under a minute left", 10.0 / 110, nullptr},
      {"progress 1 1 9 10 110", 8.9, "1 of 9 files, about 1 min left", 10.0 / 110, nullptr},
      {"progress 1 1 9 10 110", 9.0, "1 of 9 files, about 2 min left", 10.0 / 110, nullptr},
      {"progress 1 12 340 100 1000", 5.0, "12 of 340 files", 0.1, nullptr},  // first 5 seconds
      {"progress 1 12 340 0 1000", 100, "12 of 340 files", 0.0, nullptr},    // no work done yet
      {"progress 3 340 340 990 1000", 100, "Finishing the build", 0.99, nullptr},
      {"progress 3 341 340 5 10", 100, "Finishing the build", 0.5, nullptr},
      {"progress 1 1 2 0 0", 1, "1 of 2 files", -1, nullptr},
      // More work done than announced: nothing left to wait for.
      {"progress 1 1 10 200 100", 10, "1 of 10 files, under a minute left", 2.0, nullptr},
      {"progress -7 1 2 1 2 and more", 1, "1 of 2 files", 0.5, nullptr},
      {"progress 1 0 0 5 10", 10, nullptr, 0, nullptr},  // files total 0
      {"progress 1 2 3", 10, nullptr, 0, nullptr},       // fewer than five numbers
      {"progress x", 10, nullptr, 0, nullptr},
      {"progress ", 10, nullptr, 0, nullptr},
      {"progress", 10, nullptr, 0, "game: progress"},
      {"progressive 1 2 3 4 5", 10, nullptr, 0, "game: progressive 1 2 3 4 5"},
      {"[12.5] Game code: 40 functions", 10, nullptr, 0, "game: [12.5] Game code: 40 functions"},
      {"[12.5] loading", 10, nullptr, 0, nullptr},
      {"compiling 12 functions", 10, nullptr, 0, "game: compiling 12 functions"},
      {"", 10, nullptr, 0, "game: "},
  };
  Builder& b = MakeBuilder();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    statuses.clear();
    log.clear();
    std::string kept;
    b.HandlePrepareLine(c.line, 100 * kSecond, 100 * kSecond + int64_t(c.elapsed * 1e9), kept);
    EXPECT_EQ(kept, "");
    if (c.detail) {
      ASSERT_EQ(statuses.size(), 1u);
      EXPECT_EQ(statuses[0].title, kTitle);
      EXPECT_EQ(statuses[0].detail, c.detail);
      EXPECT_DOUBLE_EQ(statuses[0].fraction, c.fraction);
    } else {
      EXPECT_TRUE(statuses.empty());
    }
    if (c.logged) {
      EXPECT_EQ(log, std::vector<std::string>{c.logged});
    } else {
      EXPECT_TRUE(log.empty());
    }
  }
}

TEST_F(BuilderTest, EachFailedLineIsLoggedAndTheLastOneIsKept) {
  Builder& b = MakeBuilder();
  std::string kept;
  b.HandlePrepareLine("failed the disc cannot be read", 0, 0, kept);
  EXPECT_EQ(kept, "the disc cannot be read");
  b.HandlePrepareLine("failed", 0, 0, kept);
  b.HandlePrepareLine("[3.0] failed inside a trace", 0, 0, kept);
  EXPECT_EQ(kept, "the disc cannot be read");
  b.HandlePrepareLine("failed out of memory", 0, 0, kept);
  EXPECT_EQ(kept, "out of memory");
  EXPECT_EQ(log, (std::vector<std::string>{"game: failed the disc cannot be read", "game: failed",
                                           "game: failed out of memory"}));
}

class BuilderReplaceGameTest : public BuilderTest {
 protected:
  void SetUp() override {
    play = root / "play";
    next = play / ".next";
    MakeBuilder();
  }
  bool Replace() {
    err.clear();
    return builder->ReplaceGame(next, err);
  }

  fs::path play;
  fs::path next;
  std::string err;
};

TEST_F(BuilderReplaceGameTest, StagedEntriesReplaceTheirNamesakesButLogsAndSettingsStay) {
  WriteFile(next / "bin" / "new.dll", "new dll");
  WriteFile(next / "Halvorn.exe", "new exe");
  WriteFile(next / "package.stamp", "abc");
  WriteFile(next / "logs" / "new.log", "staged log");
  WriteFile(next / "LOGS.txt", "not the logs folder");
  WriteFile(next / "config.toml", "staged settings");
  WriteFile(next / "Keys.TOML", "staged keys");
  WriteFile(next / ".toml", "five characters: an ordinary entry");
  WriteFile(next / "data" / "x.toml", "inside a folder");
  WriteFile(play / "bin" / "old.dll", "old dll");
  WriteFile(play / "Halvorn.exe", "old exe");
  WriteFile(play / "logs" / "old.log", "the player's log");
  WriteFile(play / "config.toml", "the player's settings");
  WriteFile(play / "hdd" / "save.dat", "the player's save");

  ASSERT_TRUE(Replace()) << err;
  EXPECT_EQ(ReadFile(play / "bin" / "new.dll"), "new dll");
  EXPECT_FALSE(fs::exists(play / "bin" / "old.dll"));  // a folder is replaced as a whole
  EXPECT_EQ(ReadFile(play / "Halvorn.exe"), "new exe");
  EXPECT_EQ(ReadFile(play / "package.stamp"), "abc");
  EXPECT_EQ(ReadFile(play / "LOGS.txt"), "not the logs folder");
  EXPECT_EQ(ReadFile(play / ".toml"), "five characters: an ordinary entry");
  EXPECT_EQ(ReadFile(play / "data" / "x.toml"), "inside a folder");
  EXPECT_EQ(ReadFile(play / "logs" / "old.log"), "the player's log");
  EXPECT_FALSE(fs::exists(play / "logs" / "new.log"));
  EXPECT_EQ(ReadFile(play / "config.toml"), "the player's settings");
  EXPECT_FALSE(fs::exists(play / "Keys.TOML"));
  EXPECT_EQ(ReadFile(play / "hdd" / "save.dat"), "the player's save");
  // What stays behind stays in the staging folder.
  EXPECT_EQ(ReadFile(next / "logs" / "new.log"), "staged log");
  EXPECT_EQ(ReadFile(next / "config.toml"), "staged settings");
  EXPECT_EQ(ReadFile(next / "Keys.TOML"), "staged keys");
  EXPECT_FALSE(fs::exists(next / "bin"));
  EXPECT_TRUE(log.empty());  // nothing is logged for entries that move at the first try
  EXPECT_TRUE(statuses.empty());
}

TEST_F(BuilderReplaceGameTest, NoStagingFolderIsNothingToMove) {
  EXPECT_TRUE(Replace());
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace launcher::test
