// The frame around the pages: header band, section list, page area and footer.
#include <string>
#include <vector>

#include "app/pages.h"
#include "app/theme.h"
#include "app/widgets.h"
#include "platform/platform.h"

namespace launcher {
namespace {

struct Snapshot {
  std::string error;
  std::string done;
  Status status;
};

struct SectionEntry {
  const char* label;
  int number;
};

std::vector<SectionEntry> Sections(const App& app) {
  std::vector<SectionEntry> list{{"Game", kGameSection}};
  if (app.game.music) list.push_back({"Your music", kMusicSection});
  list.push_back({"Manage", kManageSection});
  list.push_back({"Log", kLogSection});
  return list;
}

void Header(const App& app, ImFont* bold, ImVec2 p, float width, float band) {
  const float f = ImGui::GetFontSize();
  ImDrawList* list = ImGui::GetWindowDrawList();
  list->AddRectFilled(p, ImVec2(p.x + width, p.y + band), colour::kHeader);
  list->AddLine(ImVec2(p.x, p.y + band), ImVec2(p.x + width, p.y + band), colour::kRule, 1.0f);
  const float text_y = p.y + (band - f) / 2;
  DrawTextAt(list, ImVec2(p.x + 0.8f * f, text_y), colour::kWhite, app.game.title, bold);
  const std::string version = "Launcher " + app.game.launcher_version;
  const float version_width = ImGui::CalcTextSize(version.c_str()).x;
  DrawTextAt(list, ImVec2(p.x + width - 0.8f * f - version_width, text_y), colour::kMuted,
             version);
}

void SectionList(App& app, ImVec2 p, float height) {
  const float f = ImGui::GetFontSize();
  const ImVec2 item(9.5f * f, 1.9f * f);
  ImGui::SetCursorScreenPos(p);
  ImGui::PushStyleColor(ImGuiCol_ChildBg, colour::kSidebar);
  ImGui::BeginChild("##sections", ImVec2(item.x, height), false, ImGuiWindowFlags_NoScrollbar);
  ImGui::Dummy(ImVec2(0, 0.3f * f));
  ImDrawList* list = ImGui::GetWindowDrawList();
  for (const SectionEntry& entry : Sections(app)) {
    const ImVec2 q = ImGui::GetCursorScreenPos();
    if (InvisibleButton(entry.label, item)) app.section = entry.number;
    const ImVec2 end(q.x + item.x, q.y + item.y);
    ImU32 label_colour = colour::kText;
    if (app.section == entry.number) {
      list->AddRectFilled(q, end, colour::kOlive);
      label_colour = colour::kWhite;
    } else if (ImGui::IsItemHovered()) {
      list->AddRectFilled(q, end, colour::kHeader);
    }
    DrawTextAt(list, ImVec2(q.x + 0.8f * f, q.y + (item.y - f) / 2), label_colour, entry.label);
  }
  ImGui::EndChild();
  ImGui::PopStyleColor();
}

void PageArea(App& app, void* window, ImFont* bold, const Snapshot& snap, ImVec2 at,
              ImVec2 size) {
  const float f = ImGui::GetFontSize();
  ImGui::SetCursorScreenPos(at);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(1.2f * f, 0.8f * f));
  ImGui::BeginChild("##page", size, false, ImGuiWindowFlags_AlwaysUseWindowPadding);
  ImGui::PopStyleVar();
  switch (app.section) {
    case kLogSection:
      LogPage(app);
      break;
    case kManageSection:
      ManagePage(app, bold);
      break;
    case kMusicSection:
      if (app.game.music) {
        MusicPage(app, window, bold, snap.error, snap.done);
        break;
      }
      [[fallthrough]];
    default:
      GamePage(app, window, bold, snap.status, snap.error, snap.done);
      break;
  }
  ImGui::EndChild();
}

void Footer(App& app, const Snapshot& snap, bool busy, ImVec2 p, ImVec2 size) {
  const float f = ImGui::GetFontSize();
  const float sections = 9.5f * f;
  const float height = 4.4f * f;
  const ImVec2 top_left(p.x + sections, p.y + size.y - height);
  ImDrawList* list = ImGui::GetWindowDrawList();
  list->AddRectFilled(top_left, ImVec2(p.x + size.x, p.y + size.y), colour::kHeader);
  list->AddLine(top_left, ImVec2(p.x + size.x, top_left.y), colour::kRule, 1.0f);

  const float width = (size.x - sections) - 2.4f * f;
  ImGui::SetCursorScreenPos(ImVec2(top_left.x + 1.2f * f, top_left.y + 0.5f * f));
  ImGui::PushItemWidth(width);
  if (busy) {
    Text(snap.status.title.empty() ? "Starting..." : snap.status.title);
    ImGui::SetCursorScreenPos(ImVec2(top_left.x + 1.2f * f, ImGui::GetCursorScreenPos().y));
    ProgressBar(snap.status.fraction, width - 5 * f - ImGui::GetStyle().ItemSpacing.x,
                snap.status.detail, ImGui::GetTime());
    ImGui::SameLine();
    if (Button("Stop", 5 * f)) app.builder->cancel = true;
  } else {
    Text("PC port launcher. Everything goes in", colour::kMuted);
    ImGui::SetCursorScreenPos(ImVec2(top_left.x + 1.2f * f, ImGui::GetCursorScreenPos().y));
    Text(PathToUtf8(app.root), colour::kMuted);
  }
  ImGui::PopItemWidth();
}

}  // namespace

void DrawLauncher(App& app, void* window, ImFont* bold) {
  TakeCopiedGame(app);
  const ImGuiViewport* viewport = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(viewport->WorkPos);
  ImGui::SetNextWindowSize(viewport->WorkSize);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
  ImGui::Begin("launcher", nullptr,
               ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                   ImGuiWindowFlags_NoSavedSettings);
  ImGui::PopStyleVar();
  const float f = ImGui::GetFontSize();
  const ImVec2 p = ImGui::GetWindowPos();
  const ImVec2 size = ImGui::GetWindowSize();

  Snapshot snap;
  std::string wait;
  {
    std::lock_guard<std::mutex> lock(app.state_mutex);
    snap.error = app.error;
    snap.done = app.done;
    snap.status = app.status;
    wait = app.wait_text;
  }
  const bool busy = app.busy;
  // A server that keeps the job waiting says so where the job's detail shows: over the footer's
  // bar and on the Game page's current step.
  if (busy && !wait.empty()) snap.status.detail = wait;

  const float band = 2.4f * f;
  Header(app, bold, p, size.x, band);
  const float below_header = p.y + band + 1;
  const float body_height = size.y - band - 1;
  SectionList(app, ImVec2(p.x, below_header), body_height);
  PageArea(app, window, bold, snap, ImVec2(p.x + 9.5f * f, below_header),
           ImVec2(size.x - 9.5f * f, body_height - 4.4f * f));
  Footer(app, snap, busy, p, size);
  ImGui::End();
}

}  // namespace launcher
