// The launcher's one look: a dark green-grey theme with olive and gold highlights, square
// corners and Tahoma type, every size scaled by the window's DPI. The pages draw only with the
// named colours below.
#pragma once

#include <filesystem>

#include <imgui.h>

namespace launcher {

// A colour packed as Dear ImGui packs it (red in the lowest byte, then green, blue, alpha),
// written here from its RGBA hexadecimal form, red first.
constexpr ImU32 Rgba(unsigned rgba) {
  return ((rgba >> 24) & 0xFF) | (((rgba >> 16) & 0xFF) << 8) | (((rgba >> 8) & 0xFF) << 16) |
         ((rgba & 0xFF) << 24);
}

// The named colours.
namespace colour {
constexpr ImU32 kText = Rgba(0xD8DED3FF);       // default text, unselected section labels
constexpr ImU32 kMuted = Rgba(0xA0AA95FF);      // secondary text, help lines, table labels
constexpr ImU32 kWindow = Rgba(0x3E4637FF);     // window background
constexpr ImU32 kSidebar = Rgba(0x2E3429FF);    // popups, the section list
constexpr ImU32 kRule = Rgba(0x292C21FF);       // borders, separators, lines under bands
constexpr ImU32 kLogBg = Rgba(0x282D23FF);      // frames, scrollbar track, the log, step boxes
constexpr ImU32 kHeader = Rgba(0x4C5844FF);     // header and footer bands, buttons
constexpr ImU32 kHover = Rgba(0x889180FF);      // hovered buttons
constexpr ImU32 kOlive = Rgba(0x958831FF);      // pressed buttons, selection, main actions
constexpr ImU32 kGold = Rgba(0xC4B550FF);       // headings, check marks, news, the current step
constexpr ImU32 kRed = Rgba(0xEB8269FF);        // error lines
constexpr ImU32 kGreen = Rgba(0x96C878FF);      // done lines, the accepted copy, done steps
constexpr ImU32 kWhite = Rgba(0xFFFFFFFFu);     // title, selected section, main action text
}  // namespace colour

// Resets the current style to the library's defaults, sets the launcher's paddings and sizes,
// applies the theme and scales every size by `scale` (the window's DPI / 96).
void SetupStyle(float scale);

// Square corners, the border widths and the colour slots of the theme.
void ApplyTheme(ImGuiStyle& style);

// Adds the regular and the bold font to the font atlas: Tahoma from `fonts_folder` at
// 15 x scale pixels when tahoma.ttf is there, otherwise the built-in font at 13 x scale.
// Returns the bold font (tahomabd.ttf), or the regular font when there is no bold one; never
// null.
ImFont* LoadFonts(const std::filesystem::path& fonts_folder, float scale);

// The folder where this system keeps Tahoma: the Windows fonts folder on Windows, Wine's font
// folder elsewhere. The folder need not exist.
std::filesystem::path SystemFontsFolder();

}  // namespace launcher
