// The Log page: every kept line, oldest first, and the view at the newest.
#include <string>

#include "app/pages.h"
#include "page_fixture.h"

namespace launcher::test {
namespace {

using LogPageTest = PageTest;

TEST_F(LogPageTest, ShowsEveryLineAndFollowsTheNewest) {
  app().section = kLogSection;
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    for (int i = 1; i <= 2000; ++i) app().log_lines.push_back("line " + std::to_string(i));
  }
  Draw(3);
  std::vector<const DrawnItem*> lines;
  for (const DrawnItem& item : probe().items) {
    if (item.text.rfind("line ", 0) == 0) lines.push_back(&item);
  }
  ASSERT_EQ(lines.size(), 2000u);
  EXPECT_EQ(lines.front()->text, "line 1");
  EXPECT_EQ(lines.back()->text, "line 2000");
  EXPECT_LT(lines.front()->min.y, lines.back()->min.y);

  // The page area ends above the footer; the newest line is inside it, the oldest far above.
  const float footer_top = 800 - 4.4f * ImGui::GetFontSize();
  EXPECT_LT(lines.back()->max.y, footer_top);
  EXPECT_GT(lines.back()->min.y, footer_top - 6 * ImGui::GetFontSize());
  EXPECT_LT(lines.front()->min.y, 0);

  // A new line arrives: the view moves along with it.
  {
    std::lock_guard<std::mutex> lock(app().state_mutex);
    app().log_lines.pop_front();
    app().log_lines.push_back("line 2001");
  }
  Draw(3);
  const DrawnItem* newest = Find("line 2001");
  ASSERT_NE(newest, nullptr);
  EXPECT_LT(newest->max.y, footer_top);
}

}  // namespace
}  // namespace launcher::test
