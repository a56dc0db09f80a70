#include "app/widgets.h"

#include <cmath>
#include <string_view>
#include <utility>

#include <imgui_internal.h>

#include "app/shell.h"
#include "app/ui_probe.h"
#include "platform/platform.h"

namespace launcher {
namespace {

UiProbe* g_probe = nullptr;

// What an ImGui label shows: everything before "##".
std::string VisibleLabel(std::string_view label) {
  return std::string(label.substr(0, label.find("##")));
}

bool ItemsDisabled() { return (GImGui->CurrentItemFlags & ImGuiItemFlags_Disabled) != 0; }

// Records the item just submitted (ImGui's last item) when a probe is installed.
void Record(DrawnItem::Kind kind, std::string text, ImU32 colour) {
  if (!g_probe) return;
  DrawnItem item;
  item.kind = kind;
  item.text = std::move(text);
  item.colour = colour;
  item.enabled = !ItemsDisabled();
  item.min = ImGui::GetItemRectMin();
  item.max = ImGui::GetItemRectMax();
  g_probe->items.push_back(std::move(item));
}

ImU32 CurrentTextColour() { return ImGui::GetColorU32(ImGuiCol_Text); }

}  // namespace

void SetUiProbe(UiProbe* probe) { g_probe = probe; }
UiProbe* CurrentUiProbe() { return g_probe; }

void Text(const std::string& text, ImU32 colour) {
  ImGui::PushStyleColor(ImGuiCol_Text, colour);
  ImGui::TextUnformatted(text.data(), text.data() + text.size());
  ImGui::PopStyleColor();
  Record(DrawnItem::Kind::kText, text, colour);
}

void WrappedText(const std::string& text, ImU32 colour) {
  ImGui::PushTextWrapPos(0.0f);
  Text(text, colour);
  ImGui::PopTextWrapPos();
}

void DrawTextAt(ImDrawList* list, ImVec2 pos, ImU32 colour, const std::string& text,
                ImFont* font) {
  if (!font) font = ImGui::GetFont();
  const float size = font->FontSize;
  list->AddText(font, size, pos, colour, text.data(), text.data() + text.size());
  if (!g_probe) return;
  DrawnItem item;
  item.text = text;
  item.colour = colour;
  item.enabled = !ItemsDisabled();
  item.min = pos;
  const ImVec2 extent = font->CalcTextSizeA(size, FLT_MAX, 0.0f, text.data(),
                                            text.data() + text.size());
  item.max = ImVec2(pos.x + extent.x, pos.y + extent.y);
  g_probe->items.push_back(std::move(item));
}

bool Button(const char* label, float width) {
  const bool pressed = ImGui::Button(label, ImVec2(width, 0));
  Record(DrawnItem::Kind::kButton, VisibleLabel(label), CurrentTextColour());
  return pressed;
}

bool SmallButton(const char* label) {
  const bool pressed = ImGui::SmallButton(label);
  Record(DrawnItem::Kind::kButton, VisibleLabel(label), CurrentTextColour());
  return pressed;
}

bool MainButton(const char* label, float width, ImFont* font) {
  ImGui::PushStyleColor(ImGuiCol_Button, colour::kOlive);
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colour::kGold);
  ImGui::PushStyleColor(ImGuiCol_Text, colour::kWhite);
  if (font) ImGui::PushFont(font);
  const bool pressed = Button(label, width);
  if (font) ImGui::PopFont();
  ImGui::PopStyleColor(3);
  return pressed;
}

bool Checkbox(const char* label, bool* value) {
  const bool changed = ImGui::Checkbox(label, value);
  Record(DrawnItem::Kind::kCheckbox, VisibleLabel(label), CurrentTextColour());
  if (g_probe) g_probe->items.back().checked = *value;
  return changed;
}

bool InvisibleButton(const char* id, ImVec2 size) { return ImGui::InvisibleButton(id, size); }

void ProgressBar(double fraction, float width, const std::string& overlay, double time) {
  const bool moving = fraction < 0;
  if (!moving) {
    ImGui::ProgressBar(static_cast<float>(fraction), ImVec2(width, 0),
                       overlay.empty() ? "" : overlay.c_str());
  } else {
    // An empty bar with a fifth of its width sliding across once a second, the text centred.
    ImGui::ProgressBar(0.0f, ImVec2(width, 0), "");
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    const float border = ImGui::GetStyle().FrameBorderSize;
    const float inner_left = min.x + border;
    const float inner_width = (max.x - border) - inner_left;
    const float span = 0.2f;
    const float phase = static_cast<float>(std::fmod(time, 1.0));
    const float start = phase * (1.0f + span) - span;
    const float from = std::fmax(start, 0.0f);
    const float to = std::fmin(start + span, 1.0f);
    ImDrawList* list = ImGui::GetWindowDrawList();
    if (to > from) {
      list->AddRectFilled(ImVec2(inner_left + from * inner_width, min.y + border),
                          ImVec2(inner_left + to * inner_width, max.y - border),
                          ImGui::GetColorU32(ImGuiCol_PlotHistogram));
    }
    if (!overlay.empty()) {
      const ImVec2 text = ImGui::CalcTextSize(overlay.c_str());
      list->AddText(ImVec2(min.x + (max.x - min.x - text.x) / 2, min.y + (max.y - min.y - text.y) / 2),
                    ImGui::GetColorU32(ImGuiCol_Text), overlay.c_str());
    }
  }
  Record(DrawnItem::Kind::kProgressBar, overlay, CurrentTextColour());
  if (g_probe) g_probe->items.back().fraction = static_cast<float>(fraction);
}

void SectionHeading(const char* text, ImFont* bold) {
  const float f = ImGui::GetFontSize();
  ImGui::Dummy(ImVec2(0, 0.5f * f));
  ImGui::PushFont(bold);
  Text(text, colour::kGold);
  ImGui::PopFont();
  const ImVec2 at = ImGui::GetCursorScreenPos();
  const float width = ImGui::GetContentRegionAvail().x;
  ImDrawList* list = ImGui::GetWindowDrawList();
  list->AddLine(at, ImVec2(at.x + width, at.y), colour::kRule, 1.0f);
  const ImU32 shine = (colour::kHover & ~IM_COL32_A_MASK) | (0x60u << IM_COL32_A_SHIFT);
  list->AddLine(ImVec2(at.x, at.y + 1), ImVec2(at.x + width, at.y + 1), shine, 1.0f);
  ImGui::Dummy(ImVec2(0, 4));
}

void ErrorLine(App& app, const std::string& error, const std::string& done, const char* label) {
  if (!error.empty()) {
    WrappedText(error, colour::kRed);
    if (SmallButton(label)) OpenUrl(PathToUtf8(app.root / "launcher.log"));
  } else if (!done.empty()) {
    WrappedText(done, colour::kGreen);
  }
}

void GameRunningNote(bool running) {
  if (!running) return;
  ImGui::SameLine();
  Text("The game is running.", colour::kMuted);
}

void InfoRow(const std::string& label, const std::string& value) {
  ImGui::TableNextRow();
  ImGui::TableSetColumnIndex(0);
  WrappedText(label, colour::kMuted);
  ImGui::TableSetColumnIndex(1);
  WrappedText(value, colour::kText);
}

void StartPageJob(App& app, const char* name, Job job, std::string title, JobKind kind) {
  if (g_probe) {
    g_probe->jobs.push_back({name, title});
    if (!g_probe->run_jobs) return;
  }
  app.StartJob(std::move(job), std::move(title), kind);
}

}  // namespace launcher
