// Drawing pieces shared by the launcher's pages: texts in the named colours, the button styles,
// the progress bar, page headings and the error line. Sizes are multiples of the current font
// size, so they follow the DPI scale.
#pragma once

#include <string>

#include <imgui.h>

#include "app/app.h"
#include "app/theme.h"

namespace launcher {

// One line of text (no wrapping).
void Text(const std::string& text, ImU32 colour = colour::kText);
// Text wrapped at the right edge of the content region.
void WrappedText(const std::string& text, ImU32 colour = colour::kText);
// Text placed with the draw list at a screen position, in `font` or the current font.
void DrawTextAt(ImDrawList* list, ImVec2 pos, ImU32 colour, const std::string& text,
                ImFont* font = nullptr);

// A button in the ordinary colours; a width of 0 fits the label.
bool Button(const char* label, float width = 0);
bool SmallButton(const char* label);
// A main action button: olive, gold when hovered, white text, in `font` when given.
bool MainButton(const char* label, float width, ImFont* font = nullptr);
bool Checkbox(const char* label, bool* value);
// An invisible button of `size`, for custom-drawn rows.
bool InvisibleButton(const char* id, ImVec2 size);

// A progress bar of `width` and the frame's height; a negative fraction animates from side to
// side (`time` in seconds drives it). `overlay` is written over the bar.
void ProgressBar(double fraction, float width, const std::string& overlay, double time);

// A page heading: bold gold text over a double rule.
void SectionHeading(const char* text, ImFont* bold);
// The error (red, with a button that opens launcher.log), else the done text (green), else
// nothing. `label` is the button's label, with an "##" suffix where two could meet.
void ErrorLine(App& app, const std::string& error, const std::string& done, const char* label);
// "The game is running." on the line of the item before, when `running`: why that item is
// disabled.
void GameRunningNote(bool running);
// One row of a two-column table: the label muted, the value in the text colour.
void InfoRow(const std::string& label, const std::string& value);

// Starts a page's job through App::StartJob; `name` names it for the interface tests.
void StartPageJob(App& app, const char* name, Job job, std::string title,
                  JobKind kind = JobKind::kOther);

}  // namespace launcher
