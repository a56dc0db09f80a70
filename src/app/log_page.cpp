// The Log page: the log's last lines, following new ones while the view is at the bottom.
#include <mutex>
#include <string>

#include "app/pages.h"
#include "app/theme.h"
#include "app/widgets.h"

namespace launcher {

void LogPage(App& app) {
  const float f = ImGui::GetFontSize();
  ImGui::PushStyleColor(ImGuiCol_ChildBg, colour::kLogBg);
  // A little room between the border and the lines.
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.5f * f, 0.3f * f));
  ImGui::BeginChild("log", ImVec2(0, 0), true, ImGuiWindowFlags_HorizontalScrollbar);
  ImGui::PopStyleVar();
  {
    // The worker's log sink waits while the lines are drawn.
    std::lock_guard<std::mutex> lock(app.state_mutex);
    for (const std::string& line : app.log_lines) Text(line);
  }
  if (ImGui::GetScrollY() >= ImGui::GetScrollMaxY() - f) {
    ImGui::SetScrollHereY(1.0f);
  }
  ImGui::EndChild();
  ImGui::PopStyleColor();
}

}  // namespace launcher
