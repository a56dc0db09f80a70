// A window into what the pages draw and which jobs they start, for the interface tests. The
// program never sets a probe; with one set, the pages record every text, button, checkbox and
// progress bar they draw, and hand the jobs they start to the probe instead of running them.
#pragma once

#include <string>
#include <vector>

#include <imgui.h>

namespace launcher {

struct DrawnItem {
  enum class Kind { kText, kButton, kCheckbox, kProgressBar };
  Kind kind = Kind::kText;
  std::string text;  // the visible label (without an "##" identifier suffix)
  ImU32 colour = 0;  // the text's colour
  bool enabled = true;
  bool checked = false;  // checkboxes
  float fraction = 0;    // progress bars: the fraction drawn, negative while indeterminate
  ImVec2 min, max;       // screen rectangle
};

struct StartedJob {
  std::string name;  // the job's function, such as "BuildJob"
  std::string title;
};

struct UiProbe {
  std::vector<DrawnItem> items;
  std::vector<StartedJob> jobs;
  bool run_jobs = false;  // also start the recorded jobs through App::StartJob
};

// Installs `probe` (null to remove it). Items accumulate until the test clears them.
void SetUiProbe(UiProbe* probe);
UiProbe* CurrentUiProbe();

}  // namespace launcher
