#include <gtest/gtest.h>
#include <imgui.h>

#include <filesystem>
#include <string>

#include "app/theme.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

class ThemeTest : public ::testing::Test {
 protected:
  ThemeTest() { ImGui::CreateContext(); }
  ~ThemeTest() override { ImGui::DestroyContext(); }
  ScratchDir scratch;
};

TEST_F(ThemeTest, NamedColoursPackAsTheLibraryDoes) {
  EXPECT_EQ(colour::kText, IM_COL32(0xD8, 0xDE, 0xD3, 0xFF));
  EXPECT_EQ(colour::kOlive, IM_COL32(0x95, 0x88, 0x31, 0xFF));
  EXPECT_EQ(colour::kWhite, IM_COL32(0xFF, 0xFF, 0xFF, 0xFF));
}

TEST_F(ThemeTest, StyleIsScaledSquareAndThemed) {
  ImGui::GetStyle().FrameRounding = 7;  // anything set before is discarded
  SetupStyle(1.5f);
  const ImGuiStyle& style = ImGui::GetStyle();
  EXPECT_FLOAT_EQ(style.FramePadding.x, 15);
  EXPECT_FLOAT_EQ(style.FramePadding.y, 7);  // the library rounds scaled paddings down
  EXPECT_FLOAT_EQ(style.ItemSpacing.x, 12);
  EXPECT_FLOAT_EQ(style.ScrollbarSize, 21);
  EXPECT_FLOAT_EQ(style.WindowPadding.x, 0);
  EXPECT_FLOAT_EQ(style.FrameRounding, 0);
  EXPECT_FLOAT_EQ(style.WindowRounding, 0);
  EXPECT_FLOAT_EQ(style.ChildBorderSize, 0);
  EXPECT_FLOAT_EQ(style.FrameBorderSize, 1);

  struct Slot {
    ImGuiCol slot;
    ImU32 colour;
  };
  const Slot slots[] = {
      {ImGuiCol_Text, colour::kText},          {ImGuiCol_TextDisabled, colour::kMuted},
      {ImGuiCol_WindowBg, colour::kWindow},    {ImGuiCol_PopupBg, colour::kSidebar},
      {ImGuiCol_Border, colour::kRule},        {ImGuiCol_FrameBgActive, colour::kLogBg},
      {ImGuiCol_Button, colour::kHeader},      {ImGuiCol_ButtonHovered, colour::kHover},
      {ImGuiCol_ButtonActive, colour::kOlive}, {ImGuiCol_CheckMark, colour::kGold},
      {ImGuiCol_PlotHistogram, colour::kOlive}, {ImGuiCol_ResizeGripActive, colour::kGold},
      {ImGuiCol_ChildBg, IM_COL32(0, 0, 0, 0)}, {ImGuiCol_TableRowBgAlt, IM_COL32(0, 0, 0, 31)},
  };
  for (const Slot& s : slots) {
    EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[s.slot]), s.colour)
        << ImGui::GetStyleColorName(s.slot);
  }
  // Slots the theme leaves alone keep the library's dark values.
  ImGuiStyle dark;
  ImGui::StyleColorsDark(&dark);
  EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[ImGuiCol_Tab]),
            ImGui::ColorConvertFloat4ToU32(dark.Colors[ImGuiCol_Tab]));
}

// Tahoma where this machine has it (fonts-wine); the tests that need a real font skip without.
fs::path RealFont(const char* name) {
  const fs::path path = SystemFontsFolder() / name;
  std::error_code ec;
  return fs::is_regular_file(path, ec) ? path : fs::path();
}

TEST_F(ThemeTest, FontsFallBackFromBoldToRegularToBuiltIn) {
  const fs::path regular = RealFont("tahoma.ttf");
  const fs::path bold = RealFont("tahomabd.ttf");
  if (regular.empty() || bold.empty()) GTEST_SKIP() << "Tahoma is not installed here";

  struct Case {
    const char* name;
    bool regular;         // tahoma.ttf in the folder
    const char* regular_bytes;  // replaces the file's content when not null
    bool bold;
    float size;           // of the regular font at a scale of 1.5
    bool separate_bold;
  };
  const Case cases[] = {
      {"no fonts", false, nullptr, false, 13 * 1.5f, false},
      {"regular only", true, nullptr, false, 15 * 1.5f, false},
      {"both", true, nullptr, true, 15 * 1.5f, true},
      {"damaged regular", true, "this is not a font file", false, 13 * 1.5f, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = scratch / c.name;
    fs::create_directories(folder);
    if (c.regular) {
      if (c.regular_bytes) {
        WriteFile(folder / "tahoma.ttf", c.regular_bytes);
      } else {
        fs::copy_file(regular, folder / "tahoma.ttf");
      }
    }
    if (c.bold) fs::copy_file(bold, folder / "tahomabd.ttf");

    ImGui::DestroyContext();
    ImGui::CreateContext();
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImFont* returned = LoadFonts(folder, 1.5f);
    ASSERT_NE(returned, nullptr);
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    atlas->GetTexDataAsRGBA32(&pixels, &width, &height);
    ASSERT_NE(pixels, nullptr);
    EXPECT_FLOAT_EQ(atlas->Fonts[0]->FontSize, c.size);
    EXPECT_EQ(returned != atlas->Fonts[0], c.separate_bold);
    EXPECT_FLOAT_EQ(returned->FontSize, c.separate_bold ? 15 * 1.5f : c.size);
  }
}

}  // namespace
}  // namespace launcher::test
