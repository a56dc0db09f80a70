// Draws the launcher's interface without a window: an ImGui context with a built font atlas, an
// App whose Builder works in a scratch root, and a UiProbe that records what each frame drew and
// which jobs the pages started. Clicks move the mouse over a recorded item and press it across
// two frames, as a player would.
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>

#include <filesystem>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/pages.h"
#include "app/theme.h"
#include "app/ui_probe.h"
#include "builder/builder.h"
#include "builder/builder_fixture.h"
#include "catalogue/game_description.h"
#include "support/scratch.h"

namespace launcher::test {

inline GameDescription PageGame(bool package_mode, bool music) {
  GameDescription game = TestGame();
  if (package_mode) game.package = "Halvorn-windows.zip";
  game.music = music;
  return game;
}

class PageTest : public ::testing::Test {
 protected:
  PageTest() {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(1280, 800);
    io.DeltaTime = 1.0f / 60;
    SetupStyle(1.0f);
    bold_ = LoadFonts(scratch_ / "no fonts", 1.0f);
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    SetUiProbe(&probe_);
    UseGame(PageGame(true, true));
  }

  ~PageTest() override {
    SetUiProbe(nullptr);
    if (app_->worker.joinable()) app_->worker.join();
    ImGui::DestroyContext();
  }

  // A fresh App for `game`, its root `root_name` under the scratch folder, empty.
  void UseGame(const GameDescription& game, const std::string& root_name = "Halvorn") {
    if (app_ && app_->worker.joinable()) app_->worker.join();
    app_ = std::make_unique<App>();
    app_->game = game;
    app_->root = scratch_ / root_name;
    std::filesystem::remove_all(app_->root);
    std::filesystem::create_directories(app_->root);
    NewBuilder();
  }
  // A Builder made anew over the App's root, which reads what the root holds now, as a start does.
  void NewBuilder() {
    app_->builder =
        std::make_unique<Builder>(app_->game, app_->root, app_->http.get(), app_->platform.get());
  }

  App& app() { return *app_; }

  // The player's copy, accepted.
  void AcceptCopy() {
    app_->game_copy.ok = true;
    app_->game_copy.release = "PAL 1.0";
    app_->game_copy.path = scratch_ / "Halvorn.iso";
  }
  // The game in the play folder: the executable, and the library unless `old_way`.
  void PutGameInPlace(bool old_way = false) {
    WriteFile(app_->builder->GameExe(), "exe");
    if (!old_way) WriteFile(app_->builder->PlayFolder() / "Halvorn.dll", "dll");
  }
  // An update of the package game to v1.1, the player's copy accepted, that was ended after its
  // first move: the old executable and library in play/, the new ones with the version's stamp in
  // play/.next, the old package stamp aside. A test adds the entry that holds the swap.
  void StageUpdateEndedAfterItsFirstMove() {
    GameDescription game = PageGame(true, true);
    game.launcher_version = "v1.1";
    UseGame(game);
    AcceptCopy();
    const std::filesystem::path play = app_->builder->PlayFolder();
    const std::filesystem::path exe = app_->builder->GameExe().filename();
    WriteFile(play / exe, "old exe");
    WriteFile(play / "Halvorn.dll", "old dll");
    WriteFile(play / ".next" / exe, "new exe");
    WriteFile(play / ".next" / "Halvorn.dll", "new dll");
    WriteFile(play / ".next" / ".launcher-version", "v1.1");
    WriteFile(play / ".aside" / "package.stamp", "old");
  }
  void RecordBuilt(const std::string& version) {
    WriteFile(app_->root / "launcher.json", "{\"built\": \"" + version + "\"}");
  }

  // Draws `count` frames; the probe then holds the last frame's items.
  void Draw(int count = 1) {
    for (int i = 0; i < count; ++i) {
      probe_.items.clear();
      ImGui::NewFrame();
      DrawLauncher(*app_, nullptr, bold_);
      ImGui::Render();
    }
  }

  // The first item of the last frame whose text is `text` (a `text` ending in "*" matches any
  // text that begins with the rest); null when none. Buttons and checkboxes come before texts of
  // the same words, so that "Play" finds the button rather than the heading above it.
  const DrawnItem* Find(const std::string& text) const {
    const DrawnItem* found = nullptr;
    for (const DrawnItem& item : probe_.items) {
      if (!Matches(item.text, text)) continue;
      if (item.kind == DrawnItem::Kind::kButton || item.kind == DrawnItem::Kind::kCheckbox) {
        return &item;
      }
      if (!found) found = &item;
    }
    return found;
  }
  bool Shows(const std::string& text) const { return Find(text) != nullptr; }
  // The item must be there; whether it can be used.
  bool Enabled(const std::string& text) const {
    const DrawnItem* item = Find(text);
    EXPECT_NE(item, nullptr) << "not drawn: " << text;
    return item && item->enabled;
  }
  ImU32 ColourOf(const std::string& text) const {
    const DrawnItem* item = Find(text);
    EXPECT_NE(item, nullptr) << "not drawn: " << text;
    return item ? item->colour : 0;
  }
  // Every text drawn in the last frame, in drawing order.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const DrawnItem& item : probe_.items) texts.push_back(item.text);
    return texts;
  }

  // Presses and releases the mouse over `text`, one frame each, after two frames to settle.
  void Click(const std::string& text) {
    Draw(2);
    const DrawnItem* item = Find(text);
    ASSERT_NE(item, nullptr) << "not drawn: " << text;
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = ImVec2((item->min.x + item->max.x) / 2, (item->min.y + item->max.y) / 2);
    Draw();
    io.MouseDown[0] = true;
    Draw();
    io.MouseDown[0] = false;
    Draw();
    io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    Draw();
  }

  static bool Matches(const std::string& drawn, const std::string& pattern) {
    if (!pattern.empty() && pattern.back() == '*') {
      return drawn.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return drawn == pattern;
  }

  std::vector<StartedJob>& jobs() { return probe_.jobs; }
  UiProbe& probe() { return probe_; }

 private:
  ScratchDir scratch_;
  UiProbe probe_;
  ImFont* bold_ = nullptr;
  std::unique_ptr<App> app_;
};

}  // namespace launcher::test

namespace launcher {
// Equality and printing of started jobs, for comparing lists of them.
inline bool operator==(const StartedJob& a, const StartedJob& b) {
  return a.name == b.name && a.title == b.title;
}
inline void PrintTo(const StartedJob& job, std::ostream* out) {
  *out << job.name << " \"" << job.title << "\"";
}
}  // namespace launcher
