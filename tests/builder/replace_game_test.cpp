// The swap of a package install: the staged version takes the place of the old one entry by
// entry, leaving the player's files and what never moves, reaches the disk before the old one
// goes and is recorded as built; a swap ended at any of its renames is carried through to the
// new version, and recorded, by the next Builder's construction, and until it is the game does
// not count as in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/swap_fixture.h"
#include "platform/file_ops.h"
#include "support/links.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

TEST_F(SwapTest, TheNewVersionTakesThePlaceOfTheOldAndThePlayersFilesStay) {
  ASSERT_TRUE(builder->IsGameInPlace());
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  ExpectTheNewVersionWhole();
  EXPECT_TRUE(builder->IsGameInPlace());
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(statuses.empty());
}

// The order of what reaches the disk, seen through the flushes as they happen: the staged
// files before anything moves, the play folder once everything has moved and before the new
// version is recorded or anything of the old one is removed. A flush the system refuses is
// logged and the swap goes on.
TEST_F(SwapTest, TheSwapReachesTheDiskBeforeItIsRecordedAndTheOldVersionGoes) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "the system refuses to flush" : "the system flushes");
    SetUp();
    std::vector<std::string> flushes;
    const auto seen = [&](const char* kind, const fs::path& path, std::string& why) {
      flushes.push_back(std::string(kind) + " " + path.lexically_relative(root).generic_string());
      why = "no disk";
      return !refused;
    };
    builder->disk_flush.files = [&](const fs::path& path, std::string& why) {
      EXPECT_EQ(PlayTree(), WholeOld()) << "nothing has moved yet";
      EXPECT_FALSE(EntryExists(Aside()));
      return seen("files", path, why);
    };
    builder->disk_flush.folder = [&](const fs::path& path, std::string& why) {
      EXPECT_EQ(PlayTree(), WholeNew()) << "everything has moved";
      EXPECT_EQ(Built(), "v1.0");
      EXPECT_EQ(ReadFile(Aside() / Exe()), "old exe") << "the old version is still aside";
      return seen("folder", path, why);
    };
    std::string err;
    ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
    EXPECT_EQ(flushes, (std::vector<std::string>{"files play/.next", "folder play"}));
    ExpectTheNewVersionWhole();
    EXPECT_EQ(log.size(), refused ? 2u : 0u);
    if (refused) {
      EXPECT_EQ(log[0], "replace: could not flush " + PathToUtf8(Next()) + " to the disk: no disk");
      EXPECT_EQ(log[1], "replace: could not flush " + PathToUtf8(Play()) + " to the disk: no disk");
    }
    fs::remove_all(root);
  }
}

TEST_F(SwapTest, AnAssetsLinkIsNeitherFollowedNorMoved) {
  const fs::path disc = scratch / "discs";
  WriteFile(disc / "Halvorn.iso", "the player's disc");
  fs::remove_all(Play() / "assets");
  std::string why;
  if (!MakeLink(Play() / "assets", disc, true, why)) GTEST_SKIP() << why;
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  Files expected = WholeNew();
  expected.erase("assets/Halvorn.iso");  // beyond the link, which the tree does not enter
  EXPECT_EQ(PlayTree(), expected);
  EXPECT_FALSE(EntryExists(Aside()));
  EXPECT_TRUE(IsLink(Play() / "assets"));
  EXPECT_EQ(ReadFile(Play() / "assets" / "Halvorn.iso"), "the player's disc");
}

// The states a swap ended by a kill (or a power cut) leaves, each mended by the next start.
TEST_F(SwapTest, TheNextStartCarriesAnEndedSwapThroughToTheNewVersion) {
  const std::string exe = Exe();
  const struct {
    const char* name;
    std::function<void()> ended;
  } cases[] = {
      {"nothing moved yet", [&] { fs::create_directory(Aside()); }},
      {"the stamp moved", [&] { Swap("package.stamp"); }},
      {"the stamp aside, not yet in", [&] { MoveAside("package.stamp"); }},
      {"some moved",
       [&] {
         Swap("package.stamp");
         Swap(exe);
         Swap("Halvorn.dll");
         MoveIn("added.txt");
       }},
      {"a folder aside, its new one not yet in",
       [&] {
         Swap("package.stamp");
         MoveAside("bin");
       }},
      {"everything moved, the version not yet recorded",
       [&] {
         for (const char* name : {"package.stamp", "Halvorn.dll", "bin", "readme.txt", "videos"})
           Swap(name);
         Swap(exe);
         MoveIn("added.txt");
       }},
      {"everything moved, .aside half removed",
       [&] {
         for (const char* name : {"package.stamp", "Halvorn.dll", "bin", "readme.txt", "videos"})
           Swap(name);
         Swap(exe);
         MoveIn("added.txt");
         fs::remove_all(Aside() / "bin");
         fs::remove(Aside() / "readme.txt");
       }},
      {"a file written where the old folder was",
       [&] {
         MoveAside("bin");
         WriteFile(Play() / "bin" / "new.log", "written by the game");
       }},
      {"an undo ended halfway",
       [&] {
         Swap("package.stamp");
         Swap(exe);
         Swap("bin");
         MoveBack("bin");
         MoveOldBack("bin");
         MoveBack(exe);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.ended();
    ASSERT_FALSE(HasFatalFailure());
    MakeBuilder();
    ExpectTheNewVersionWhole(false);
    EXPECT_TRUE(builder->IsGameInPlace());
    const std::vector<std::string> logged = LogFileLines();  // the start has no log sink yet
    EXPECT_EQ(logged, std::vector<std::string>{
                          "the update to v1.1 that was ended during its swap is finished"});
    // What `--play` and the page ask: the version in place is the launcher's own.
    bool update_ready = true;
    std::string error;
    ASSERT_TRUE(builder->CheckGameUpdate(update_ready, error)) << error;
    EXPECT_FALSE(update_ready);
    EXPECT_TRUE(builder->HeldSwap().entry.empty());
    fs::remove_all(root);
  }
}

TEST_F(SwapTest, AHalfDoneSwapIsNotInPlaceUntilItIsFinished) {
  Swap("package.stamp");
  Swap(Exe());
  Swap("Halvorn.dll");
  EXPECT_FALSE(builder->IsGameInPlace());
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  ExpectTheNewVersionWhole();
  EXPECT_TRUE(builder->IsGameInPlace());
}

// A swap that has moved everything but could not remove what it moved aside (a file of the old
// version still open) has put the game in place; the next start clears what is left.
TEST_F(SwapTest, WhatAFinishedSwapLeftAsideIsClearedByTheNextStart) {
  std::string err;
  ASSERT_TRUE(builder->ReplaceGame(Next(), err)) << err;
  WriteFile(Aside() / "bin" / "a.bin", "old a, held open");
  EXPECT_TRUE(builder->IsGameInPlace());
  fs::remove_all(Next());  // as the install does after its swap
  EXPECT_TRUE(builder->IsGameInPlace());
  MakeBuilder();
  EXPECT_FALSE(EntryExists(Aside()));
  EXPECT_TRUE(builder->IsGameInPlace());
}

}  // namespace
}  // namespace launcher::test
