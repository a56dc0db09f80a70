// The Your music page: the folder, the import's buttons and its summary.
#include <string>
#include <vector>

#include "app/pages.h"
#include "page_fixture.h"
#include "platform/platform.h"

namespace launcher::test {
namespace {

class MusicPageTest : public PageTest {
 protected:
  MusicPageTest() { app().section = kMusicSection; }
  void SetOutcome(const std::string& error, const std::string& done, const std::string& summary) {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().error = error;
    app().done = done;
    app().music_summary = summary;
  }
};

TEST_F(MusicPageTest, FolderAndButtons) {
  Draw(2);
  EXPECT_TRUE(Enabled("Choose a music folder..."));
  EXPECT_FALSE(Shows("Update my music")) << "no folder imported yet";
  EXPECT_FALSE(Shows("Your music: *"));

  const std::filesystem::path folder = PathFromUtf8("/home/player/Music/Släpp");
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().music_folder = folder;
  }
  Draw(2);
  EXPECT_EQ(ColourOf("Your music: " + PathToUtf8(folder)), colour::kMuted);
  EXPECT_TRUE(Shows("After adding or changing songs: only those are converted."));
  Click("Update my music");
  EXPECT_TRUE(app().music_job);
  EXPECT_EQ(jobs(), (std::vector<StartedJob>{{"MusicImportJob", "Your music is ready."}}));

  app().busy = true;
  Draw(2);
  EXPECT_FALSE(Enabled("Choose a music folder..."));
  EXPECT_FALSE(Enabled("Update my music"));
}

TEST_F(MusicPageTest, OutcomeShowsHereOnlyForTheMusicJob) {
  struct Case {
    const char* name;
    bool music_job;
    bool busy;
    std::string error, done, summary;
    std::string music_page;  // the outcome line on this page, "" for none
    std::string game_page;   // ...and on the Game page
  };
  const Case cases[] = {
      {"import done", true, false, "", "Your music is ready.", "12 songs in 2 soundtracks.",
       "Your music is ready. 12 songs in 2 soundtracks.", ""},
      {"import failed", true, false, "ffmpeg could not start", "", "", "ffmpeg could not start", ""},
      {"import running", true, true, "", "", "", "", ""},
      {"a build's error", false, false, "The build failed, see launcher.log", "", "", "",
       "The build failed, see launcher.log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app().music_job = c.music_job;
    app().busy = c.busy;
    SetOutcome(c.error, c.done, c.summary);
    for (int section : {kMusicSection, kGameSection}) {
      app().section = section;
      Draw(2);
      const std::string& expected = section == kMusicSection ? c.music_page : c.game_page;
      for (const std::string& text : {c.music_page, c.game_page}) {
        if (!text.empty() && text != expected) {
          EXPECT_FALSE(Shows(text)) << text;
        }
      }
      if (!expected.empty()) {
        EXPECT_EQ(ColourOf(expected), c.error.empty() ? colour::kGreen : colour::kRed);
      }
    }
  }
}

}  // namespace
}  // namespace launcher::test
