#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/shell.h"
#include "builder/builder_fixture.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

// The pickers run zenity through PATH: a stand-in records its arguments and answers as told.
class PickerTest : public ::testing::Test {
 protected:
  PickerTest() {
    const char* path = getenv("PATH");
    saved_path = path != nullptr ? path : "";
    WriteFile(scratch / "bin" / "zenity",
              "#!/bin/sh\n"
              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args\"\n"
              "echo 'Gtk-WARNING: no theme' >&2\n"
              "[ -f \"$(dirname \"$0\")/answer\" ] || exit 1\n"
              "cat \"$(dirname \"$0\")/answer\"\n");
    fs::permissions(scratch / "bin" / "zenity", fs::perms::owner_all);
    setenv("PATH", ((scratch / "bin").string() + ":" + saved_path).c_str(), 1);
  }
  ~PickerTest() override { setenv("PATH", saved_path.c_str(), 1); }

  std::string Args() { return ReadFile(scratch / "bin" / "args"); }

  ScratchDir scratch;
  std::string saved_path;
};

TEST_F(PickerTest, CancelGivesNothing) {
  EXPECT_EQ(PickPath(nullptr, true, nullptr), fs::path());
  EXPECT_EQ(PickPath(nullptr, false, nullptr), fs::path());
}

TEST_F(PickerTest, TheChosenPathComesBackWithoutItsLineEndAndWarningsAreIgnored) {
  WriteFile(scratch / "bin" / "answer", "/home/player/My Games/halvorn.iso\n");
  EXPECT_EQ(PickPath(nullptr, false, nullptr), fs::path("/home/player/My Games/halvorn.iso"));
}

TEST_F(PickerTest, TitlesAndFilters) {
  PickPath(nullptr, true, nullptr);
  EXPECT_EQ(Args(), "--file-selection\n--directory\n--title=Choose the folder with the game's files\n");
  PickPath(nullptr, true, "Choose a folder of your music");
  EXPECT_EQ(Args(), "--file-selection\n--directory\n--title=Choose a folder of your music\n");
  // File mode keeps its own title whatever the caller passes.
  PickPath(nullptr, false, "Choose a folder of your music");
  EXPECT_EQ(Args(),
            "--file-selection\n--title=Choose the game's disc image\n"
            "--file-filter=Xbox disc image or default.xbe | *.iso default.xbe\n"
            "--file-filter=All files | *\n");
}

TEST_F(PickerTest, NoZenityGivesNothing) {
  setenv("PATH", (scratch / "nowhere").c_str(), 1);
  EXPECT_EQ(PickPath(nullptr, true, nullptr), fs::path());
}

}  // namespace
}  // namespace launcher::test
