#include "app/theme.h"

#include <cstring>
#include <string>
#include <system_error>

#include "builder/builder.h"
#include "platform/file_ops.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

ImVec4 Vec(ImU32 packed) { return ImGui::ColorConvertU32ToFloat4(packed); }

ImVec4 WithAlpha(ImU32 packed, float alpha) {
  ImVec4 colour = Vec(packed);
  colour.w = alpha;
  return colour;
}

// TrueType and OpenType files (and collections) begin with one of these tags. The library stops
// the program on data without one, so a damaged file is left out instead.
bool LooksLikeFont(const std::string& bytes) {
  if (bytes.size() < 12) return false;
  const std::string tag = bytes.substr(0, 4);
  return tag == std::string("\0\1\0\0", 4) || tag == "true" || tag == "OTTO" || tag == "ttcf";
}

// Adds a TrueType file read here rather than by the library, which stops the program with an
// assertion when a file it was asked to load cannot be read. Null when the file is not there.
ImFont* AddFontFile(ImFontAtlas* atlas, const fs::path& file, float size) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return nullptr;
  std::string bytes;
  if (!ReadWholeFile(file, bytes) || !LooksLikeFont(bytes)) return nullptr;
  // The atlas owns and frees the copy.
  void* data = IM_ALLOC(bytes.size());
  std::memcpy(data, bytes.data(), bytes.size());
  return atlas->AddFontFromMemoryTTF(data, static_cast<int>(bytes.size()), size);
}

}  // namespace

void SetupStyle(float scale) {
  ImGuiStyle& style = ImGui::GetStyle();
  style = ImGuiStyle();
  style.WindowPadding = ImVec2(0, 0);
  style.FramePadding = ImVec2(10, 5);
  style.ItemSpacing = ImVec2(8, 6);
  style.ItemInnerSpacing = ImVec2(6, 4);
  style.ScrollbarSize = 14;
  style.GrabMinSize = 12;
  ApplyTheme(style);
  style.ScaleAllSizes(scale);
}

void ApplyTheme(ImGuiStyle& style) {
  style.WindowRounding = 0;
  style.WindowBorderSize = 1;
  style.ChildRounding = 0;
  style.ChildBorderSize = 0;
  style.PopupRounding = 0;
  style.PopupBorderSize = 1;
  style.FrameRounding = 0;
  style.FrameBorderSize = 1;
  style.ScrollbarRounding = 0;
  style.GrabRounding = 0;
  style.TabRounding = 0;

  ImGui::StyleColorsDark(&style);
  ImVec4* c = style.Colors;
  const ImVec4 transparent(0, 0, 0, 0);
  c[ImGuiCol_Text] = Vec(colour::kText);
  c[ImGuiCol_TextDisabled] = Vec(colour::kMuted);
  c[ImGuiCol_WindowBg] = Vec(colour::kWindow);
  c[ImGuiCol_ChildBg] = transparent;
  c[ImGuiCol_PopupBg] = Vec(colour::kSidebar);
  c[ImGuiCol_Border] = Vec(colour::kRule);
  c[ImGuiCol_BorderShadow] = WithAlpha(colour::kHover, 0.35f);
  c[ImGuiCol_FrameBg] = c[ImGuiCol_FrameBgHovered] = c[ImGuiCol_FrameBgActive] =
      Vec(colour::kLogBg);
  c[ImGuiCol_TitleBg] = c[ImGuiCol_TitleBgActive] = c[ImGuiCol_TitleBgCollapsed] =
      Vec(colour::kHeader);
  c[ImGuiCol_ScrollbarBg] = Vec(colour::kLogBg);
  c[ImGuiCol_ScrollbarGrab] = Vec(colour::kHeader);
  c[ImGuiCol_ScrollbarGrabHovered] = c[ImGuiCol_ScrollbarGrabActive] = Vec(colour::kHover);
  c[ImGuiCol_CheckMark] = Vec(colour::kGold);
  c[ImGuiCol_Button] = Vec(colour::kHeader);
  c[ImGuiCol_ButtonHovered] = Vec(colour::kHover);
  c[ImGuiCol_ButtonActive] = Vec(colour::kOlive);
  c[ImGuiCol_Header] = c[ImGuiCol_HeaderHovered] = c[ImGuiCol_HeaderActive] = Vec(colour::kOlive);
  c[ImGuiCol_Separator] = c[ImGuiCol_SeparatorHovered] = c[ImGuiCol_SeparatorActive] =
      Vec(colour::kRule);
  c[ImGuiCol_ResizeGrip] = Vec(colour::kHeader);
  c[ImGuiCol_ResizeGripHovered] = c[ImGuiCol_ResizeGripActive] = Vec(colour::kGold);
  c[ImGuiCol_PlotHistogram] = c[ImGuiCol_PlotHistogramHovered] = Vec(colour::kOlive);
  c[ImGuiCol_TableHeaderBg] = Vec(colour::kHeader);
  c[ImGuiCol_TableBorderStrong] = c[ImGuiCol_TableBorderLight] = Vec(colour::kRule);
  c[ImGuiCol_TableRowBg] = transparent;
  c[ImGuiCol_TableRowBgAlt] = ImVec4(0, 0, 0, 0.12f);
  c[ImGuiCol_NavHighlight] = c[ImGuiCol_NavWindowingHighlight] = Vec(colour::kGold);
  c[ImGuiCol_ModalWindowDimBg] = ImVec4(0, 0, 0, 0.45f);
}

ImFont* LoadFonts(const fs::path& fonts_folder, float scale) {
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  AddFontFile(atlas, fonts_folder / "tahoma.ttf", 15 * scale);
  if (atlas->Fonts.empty()) {
    ImFontConfig config;
    config.SizePixels = 13 * scale;
    atlas->AddFontDefault(&config);
  }
  if (ImFont* bold = AddFontFile(atlas, fonts_folder / "tahomabd.ttf", 15 * scale)) return bold;
  return atlas->Fonts[0];
}

}  // namespace launcher
