// The frame around the pages: header, section list and the footer's status, bar and "Stop".
#include <string>
#include <vector>

#include "app/pages.h"
#include "page_fixture.h"
#include "platform/platform.h"

namespace launcher::test {
namespace {

using FrameTest = PageTest;

TEST_F(FrameTest, HeaderShowsTheTitleAndTheLauncherVersion) {
  Draw(2);
  EXPECT_EQ(ColourOf("Halvorn"), colour::kWhite);
  EXPECT_EQ(ColourOf("Launcher v1.0"), colour::kMuted);
  // The version ends 0.8 F before the right edge.
  const float f = ImGui::GetFontSize();
  EXPECT_NEAR(Find("Launcher v1.0")->max.x, 1280 - 0.8f * f, 1.0f);
}

TEST_F(FrameTest, SectionListFollowsTheMusicSwitch) {
  struct Case {
    bool music;
    int stored_section;
    std::vector<std::string> sections;
    const char* page_button;  // a button of the page the stored section shows
  };
  const Case cases[] = {
      {true, 1, {"Game", "Your music", "Manage", "Log"}, "Choose a music folder..."},
      {false, 1, {"Game", "Manage", "Log"}, "Choose a disc image..."},
      {false, 2, {"Game", "Manage", "Log"}, "Open the game's folder"},
      {true, 7, {"Game", "Your music", "Manage", "Log"}, "Choose a disc image..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "music " << c.music << ", section " << c.stored_section);
    UseGame(PageGame(true, c.music));
    app().section = c.stored_section;
    Draw(2);
    std::vector<std::string> listed;
    for (const char* name : {"Game", "Your music", "Manage", "Log"}) {
      if (Shows(name) && Find(name)->min.x < 9.5f * ImGui::GetFontSize()) listed.push_back(name);
    }
    EXPECT_EQ(listed, c.sections);
    EXPECT_TRUE(Shows(c.page_button));
  }
}

TEST_F(FrameTest, ClickingASectionSelectsIt) {
  Click("Manage");
  EXPECT_EQ(app().section, kManageSection);
  EXPECT_EQ(ColourOf("Manage"), colour::kWhite);
  EXPECT_EQ(ColourOf("Game"), colour::kText);
  Click("Log");
  EXPECT_EQ(app().section, kLogSection);
}

TEST_F(FrameTest, IdleFooterNamesTheRoot) {
  Draw(2);
  EXPECT_TRUE(Shows("PC port launcher. Everything goes in"));
  EXPECT_EQ(ColourOf(PathToUtf8(app().root)), colour::kMuted);
  EXPECT_FALSE(Shows("Stop"));
}

TEST_F(FrameTest, BusyFooterShowsTheStatusWithAWaitForAServerOverItsDetail) {
  const std::string wait = "Waiting for github.com: no answer for 20 s. Stop and try again later.";
  struct Case {
    Status status;
    std::string wait_text;
    const char* title;
    float fraction;
    std::string bar_text;
  };
  const Case cases[] = {
      {{"", "", -1}, "", "Starting...", -1, ""},
      {{"Downloading Halvorn-windows.zip", "12 MB of 90 MB", 0.13}, "",
       "Downloading Halvorn-windows.zip", 0.13f, "12 MB of 90 MB"},
      {{"Preparing the game's code", "", -1}, "", "Preparing the game's code", -1, ""},
      {{"", "", -1}, wait, "Starting...", -1, wait},
      {{"Downloading Halvorn-windows.zip", "6 MB of 24 MB", 0.25}, wait,
       "Downloading Halvorn-windows.zip", 0.25f, wait},
  };
  app().busy = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title + (" " + c.wait_text));
    {
      std::lock_guard<std::mutex> lock(app().state_mutex);
      app().status = c.status;
      app().wait_text = c.wait_text;
    }
    Draw(2);
    EXPECT_TRUE(Shows(c.title));
    const DrawnItem* bar = nullptr;
    for (const DrawnItem& item : probe().items) {
      if (item.kind == DrawnItem::Kind::kProgressBar) bar = &item;
    }
    ASSERT_NE(bar, nullptr);
    EXPECT_FLOAT_EQ(bar->fraction, c.fraction);
    EXPECT_EQ(bar->text, c.bar_text);
    EXPECT_TRUE(Enabled("Stop"));
    EXPECT_FALSE(Shows("PC port launcher. Everything goes in"));
  }
}

TEST_F(FrameTest, TheGamePagesCurrentStepNamesTheServerItWaitsFor) {
  const std::string wait = "Waiting for github.com: no answer for 7 s. Stop and try again later.";
  AcceptCopy();
  app().builder->package_step = 1;
  app().job_kind = JobKind::kGame;
  app().busy = true;
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().status = {"Downloading Halvorn-windows.zip", "6 MB of 24 MB", 0.25};
    app().wait_text = wait;
  }
  Draw(2);
  const DrawnItem* row = Find(wait);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->kind, DrawnItem::Kind::kText);
  EXPECT_EQ(row->colour, colour::kGold);
  // On the step's row, right of its label.
  const DrawnItem* label = Find("Download the program");
  ASSERT_NE(label, nullptr);
  EXPECT_NEAR(row->min.y, label->min.y, 1.0f);
  EXPECT_GT(row->min.x, label->max.x);
  EXPECT_FALSE(Shows("6 MB of 24 MB"));

  // An idle launcher shows no wait, whatever was left.
  app().busy = false;
  Draw(2);
  EXPECT_FALSE(Shows(wait));
}

TEST_F(FrameTest, StopSetsTheCancelFlag) {
  app().busy = true;
  Click("Stop");
  EXPECT_TRUE(app().builder->cancel);
  EXPECT_TRUE(jobs().empty());
}

}  // namespace
}  // namespace launcher::test
