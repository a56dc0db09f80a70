// The Game page: the new-launcher banner, the player's copy of the game, the prebuilt block (in
// package mode) or the build block, "Play" and the play-at-start choice.
#include <cmath>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "app/game_process.h"
#include "app/pages.h"
#include "app/shell.h"
#include "app/theme.h"
#include "app/widgets.h"
#include "catalogue/game_copy.h"
#include "catalogue/release.h"
#include "platform/platform.h"

namespace launcher {
namespace {

// The page of the licence terms the consent checkbox names; "Read them" opens it and
// agreed.txt records it.
constexpr const char* kLicenceTermsUrl = "https://visualstudio.microsoft.com/license-terms/";

enum StepState { kToDo = 0, kCurrent = 1, kDone = 2 };

// What the page reads once per frame.
struct PageState {
  bool busy = false;
  bool working = false;  // a job that installs, builds or updates the game runs
  bool in_place = false;
  bool running = false;  // the game started by Play runs: nothing may change its folder
};

std::string BuiltVersionOrEarlier(const App& app) {
  const std::string built = app.builder->BuiltVersion();
  return built.empty() ? "an earlier one" : built;
}

void FreeSpaceLine(const App& app) {
  Text("Free on this drive: " + FormatSize(FreeSpaceOnDrive(app.root)), colour::kMuted);
}

void LauncherBanner(App& app, ImFont* bold, const PageState& page) {
  if (!app.launcher_offered || app.banner_dismissed) return;
  Release release;
  {
    std::lock_guard<std::mutex> lock(app.release_mutex);
    release = app.offered_release;
  }
  SectionHeading("A new version", bold);
  Text("Version " + release.tag_name + " is out (this launcher is " + app.game.launcher_version +
           ").",
       colour::kGold);
  WrappedText(
      "Update the launcher, then build the game again with the new version. Your saves and "
      "settings are kept.");
  // Not while the game runs: the update would move files under it, and the new launcher would
  // not know of it. Nor once the new launcher is in place: it only waits to start.
  const bool new_one_in_place = app.restart_pending;
  ImGui::BeginDisabled(page.busy || page.running || new_one_in_place ||
                       release.browser_download_url.empty());
  if (Button("Update the launcher")) {
    app.music_job = false;
    StartPageJob(app, "UpdateLauncherJob", UpdateLauncherJob(app, release), kUpdateLauncherTitle);
  }
  ImGui::EndDisabled();
  ImGui::SameLine();
  if (Button("What's new") && !release.html_url.empty()) OpenUrl(release.html_url);
  ImGui::SameLine();
  if (Button("Later")) app.banner_dismissed = true;
  GameRunningNote(page.running);
  if (new_one_in_place && page.running) {
    Text("The new launcher starts once the game has ended.", colour::kGold);
  }
}

void ChooseCopy(App& app, void* window, bool folder_mode) {
  const std::filesystem::path chosen = PickPath(window, folder_mode, nullptr);
  if (!chosen.empty()) ChooseGameCopy(app, chosen);
}

void YourGame(App& app, void* window, ImFont* bold, const PageState& page) {
  SectionHeading("Your game", bold);
  if (app.game_copy.ok) {
    Text(app.game_copy.release, colour::kGreen);
    Text(PathToUtf8(app.game_copy.path), colour::kMuted);
  } else {
    WrappedText(
        "Choose your copy of the game: a disc image (.iso) of your own disc, or a folder with "
        "the disc's files. Nothing is copied off the internet: the game comes from your disc.");
  }
  // The last pick's refusal, else why the copy there is not accepted.
  const std::string& refusal =
      app.pick_error.empty() && !app.game_copy.ok ? app.game_copy.message : app.pick_error;
  if (!refusal.empty()) WrappedText(refusal, colour::kRed);
  // The game reads its disc from play/assets, which a choice replaces.
  ImGui::BeginDisabled(page.busy || page.running);
  if (Button("Choose a disc image...")) ChooseCopy(app, window, false);
  ImGui::SameLine();
  if (Button("Choose a folder...")) ChooseCopy(app, window, true);
  ImGui::EndDisabled();
  GameRunningNote(page.running);
}

// One step of the prebuilt road: a box with its state, the label, and a detail at the right.
void StatusRow(int state, const std::string& label, const std::string& detail,
               const Status* status) {
  const float f = ImGui::GetFontSize();
  const ImVec2 q = ImGui::GetCursorScreenPos();
  const float width = ImGui::GetContentRegionAvail().x;
  ImGui::Dummy(ImVec2(width, 2 * f));
  ImDrawList* list = ImGui::GetWindowDrawList();
  if (state == kCurrent) list->AddRectFilled(q, ImVec2(q.x + width, q.y + 2 * f), colour::kHeader);

  const ImVec2 box(q.x + 0.45f * f, q.y + 0.5f * f);
  const ImVec2 box_end(box.x + f, box.y + f);
  list->AddRectFilled(box, box_end, colour::kLogBg);
  list->AddRect(box, box_end, colour::kRule, 0.0f, 0, 1.0f);
  if (state == kDone) {
    const ImVec2 a(box.x + 0.2f * f, box.y + 0.5f * f);
    const ImVec2 b(box.x + 0.42f * f, box.y + 0.75f * f);
    const ImVec2 c(box.x + 0.8f * f, box.y + 0.25f * f);
    list->AddLine(a, b, colour::kGreen, 2.0f);
    list->AddLine(b, c, colour::kGreen, 2.0f);
  } else if (state == kCurrent) {
    const double pulse = 0.55 + 0.45 * std::sin(4 * ImGui::GetTime());
    const ImU32 alpha = static_cast<ImU32>(255 * pulse) & 0xFF;
    const ImU32 gold = (colour::kGold & ~IM_COL32_A_MASK) | (alpha << IM_COL32_A_SHIFT);
    const float inset = 0.22f * f;
    list->AddRectFilled(ImVec2(box.x + inset, box.y + inset),
                        ImVec2(box_end.x - inset, box_end.y - inset), gold);
  }

  const ImU32 label_colour =
      state == kToDo ? colour::kMuted : state == kCurrent ? colour::kWhite : colour::kText;
  DrawTextAt(list, ImVec2(q.x + 2 * f, q.y + 0.5f * f), label_colour, label);
  const std::string& shown = status && !status->detail.empty() ? status->detail : detail;
  if (!shown.empty()) {
    const float shown_width = ImGui::CalcTextSize(shown.c_str()).x;
    DrawTextAt(list, ImVec2(q.x + width - 0.6f * f - shown_width, q.y + 0.5f * f),
               state == kCurrent ? colour::kGold : colour::kMuted, shown);
  }
}

// The state of step `n` of the package install (1 download, 2 unpack, 3 build the code).
int StepStateOf(int n, int step, bool working) {
  if (working && step == n) return kCurrent;
  return step > n ? kDone : kToDo;
}

// What the page says of an update whose swap the system keeps from finishing.
std::string HeldSwapText(const SwapHold& held) {
  const std::string update =
      held.version.empty() ? "The update" : "The update to " + held.version;
  return update + " is not finished: " + held.entry +
         " is in use. Close the game or the program that holds it, then press Update.";
}

// The prebuilt block: the package install's steps and its button.
void InstallSection(App& app, ImFont* bold, const PageState& page, const Status& status,
                    const std::string& error, const std::string& done) {
  int step = app.builder->package_step;
  const bool update_ready = app.game_update_ready;
  // A swap that could not finish is an update half made, not a first install: Update finishes
  // its moves.
  const SwapHold held = page.in_place ? SwapHold{} : app.builder->HeldSwap();
  const bool unfinished = !held.entry.empty();
  const bool old_way = !page.in_place && !unfinished && app.builder->BuiltOldWay();
  if (page.in_place) {
    if (!page.working && !update_ready) step = 4;
    SectionHeading(update_ready ? "Getting the game ready" : "Ready to play", bold);
  } else {
    // While it works, the old-way heading keeps the general text.
    if (old_way) {
      SectionHeading("A faster way to play", bold);
    } else {
      SectionHeading("Getting the game ready", bold);
    }
    if (unfinished && !page.working) {
      WrappedText(HeldSwapText(held), colour::kGold);
    } else if (old_way && !page.working) {
      WrappedText(
          "This version comes ready-made: your PC only builds the game's own code, in a minute "
          "or two, with no build tools to download. Your saves, settings and music are kept, "
          "and the game you have keeps working until the new one is ready.");
    } else {
      WrappedText(
          "The program comes ready to go, and your PC builds the game's code from your own "
          "disc, once. Nothing is installed in Windows, and it all stays in one folder.");
    }
    ImGui::Dummy(ImVec2(0, 0.3f * ImGui::GetFontSize()));
  }

  StatusRow(app.game_copy.ok ? kDone : kToDo, "Your game",
            app.game_copy.ok ? app.game_copy.release : "not chosen yet", nullptr);
  const char* labels[] = {"Download the program", "Unpack it", "Build the game for this PC"};
  for (int n = 1; n <= 3; ++n) {
    const int state = StepStateOf(n, step, page.working);
    StatusRow(state, labels[n - 1], "", state == kCurrent ? &status : nullptr);
  }
  ImGui::Dummy(ImVec2(0, 0.3f * ImGui::GetFontSize()));

  if (page.working) {
    WrappedText(
        "You can stop at any time: it carries on from there next time. Your saves and music "
        "are not touched.",
        colour::kMuted);
    return;
  }
  if (update_ready) {
    const std::string& version = app.game.launcher_version;
    WrappedText(IsVersionTag(version)
                    ? "Version " + version + " is ready to install (yours: " +
                          BuiltVersionOrEarlier(app) +
                          "). Your saves, settings and music are kept."
                    : std::string("A new version is available."),
                colour::kGold);
  }
  if (!page.in_place || update_ready) {
    FreeSpaceLine(app);
    // Also while the music import runs: a press then would clear music_job for a job that the
    // runner drops.
    ImGui::BeginDisabled(page.busy || page.running || !app.game_copy.ok);
    const bool update = page.in_place || old_way || unfinished;
    if (MainButton(update ? "Update" : "Get the game ready", 14 * ImGui::GetFontSize())) {
      app.music_job = false;
      StartPageJob(app, "InstallJob",
                   InstallJob(app, update ? "Update again" : "\"Get the game ready\" again"),
                   kInstallTitle, JobKind::kGame);
    }
    ImGui::EndDisabled();
    GameRunningNote(page.running);
  }
  if (!app.music_job) ErrorLine(app, error, done, "Open launcher.log");
}

// Records the licence consent where the next start finds it.
void WriteAgreed(const App& app) {
  std::ofstream out(app.root / "agreed.txt", std::ios::binary | std::ios::trunc);
  out << kLicenceTermsUrl;
}

// The build block: building the game on this PC from source.
void BuildSection(App& app, ImFont* bold, const PageState& page, const std::string& error,
                  const std::string& done) {
  const float f = ImGui::GetFontSize();
  SectionHeading("Build", bold);
  if (page.working) {
    WrappedText(
        "Working: see the bar below. It carries on from there next time if you stop it.",
        colour::kMuted);
    return;
  }
  bool pressed = false;
  if (page.in_place) {
    if (!app.game_update_ready) {
      Text("Built and ready.", colour::kGreen);
      ImGui::BeginDisabled(page.busy || page.running || !app.game_copy.ok);
      pressed = Button("Rebuild", 10 * f);
      ImGui::EndDisabled();
      GameRunningNote(page.running);
    } else {
      const std::string& version = app.game.launcher_version;
      WrappedText(IsVersionTag(version)
                      ? "Version " + version + " of the game is ready to build (yours: " +
                            BuiltVersionOrEarlier(app) + ")."
                      : std::string("A new version is available."),
                  colour::kGold);
      ImGui::BeginDisabled(page.busy || page.running || !app.game_copy.ok);
      pressed = MainButton("Update", 10 * f);
      ImGui::EndDisabled();
      GameRunningNote(page.running);
    }
  } else {
    WrappedText(
        "The game is built on this PC from your disc. This downloads about 1.4 GB of build tools "
        "(Clang, CMake, Git and Microsoft's C++ libraries and Windows SDK) into the tools "
        "folder; nothing is installed in Windows. The first build takes 30 to 90 minutes and "
        "needs about 3 GB free, plus room for your copy of the game.");
    FreeSpaceLine(app);
    Checkbox("I accept the license terms for Microsoft's C++ libraries and Windows SDK",
             &app.agreed);
    ImGui::SameLine();
    if (SmallButton("Read them")) OpenUrl(kLicenceTermsUrl);
    std::string too_long;
    const bool path_too_long = app.builder->PathTooLong(too_long);
    if (path_too_long) WrappedText(too_long, colour::kRed);
    ImGui::BeginDisabled(page.busy || page.running || path_too_long || !app.game_copy.ok ||
                         !app.agreed);
    if (MainButton("Build", 10 * f)) {
      WriteAgreed(app);
      pressed = true;
    }
    ImGui::EndDisabled();
    GameRunningNote(page.running);
  }
  if (pressed) {
    app.music_job = false;
    StartPageJob(app, "BuildJob", BuildJob(app), kBuildTitle, JobKind::kGame);
  }
  if (!app.music_job) ErrorLine(app, error, done, "Open launcher.log");
}

// Starts the game beside the launcher and keeps it to be followed. A game started by hand
// leaves nothing for play-at-start to start.
void Play(App& app) {
  auto game = std::make_unique<GameProcess>(GameProcess::Follow::kBeside);
  uint32_t code = 0;
  if (!game->Start(app.builder->GameExe(), app.builder->PlayFolder(), code)) {
    const std::string error = LastErrorText("Could not start the game");
    std::lock_guard<std::mutex> lock(app.state_mutex);
    app.error = error;
    return;
  }
  app.played_game = std::move(game);
  app.play_pending = false;
}

void PlaySection(App& app, ImFont* bold, const PageState& page) {
  SectionHeading("Play", bold);
  const bool playable = page.in_place || app.builder->BuiltOldWay();
  // The start-up check changes nothing the game uses; any other job may.
  const bool job_in_the_way = app.busy && app.job_kind != JobKind::kStartupCheck;
  ImGui::BeginDisabled(job_in_the_way || page.running || !playable || !app.game_copy.ok);
  if (MainButton("Play", 10 * ImGui::GetFontSize(), bold)) Play(app);
  ImGui::EndDisabled();
  GameRunningNote(page.running);

  if (app.play_pending) {
    Text("The game starts once the check for a new version is done.", colour::kGold);
    ImGui::SameLine();
    if (SmallButton("Stay in the launcher")) app.play_pending = false;
  }
  if (Checkbox("Start the game when the launcher opens, if nothing needs updating",
               &app.play_at_start)) {
    app.builder->SetPlayAtStart(app.play_at_start);
  }
  WrappedText(
      "Hold Shift as the launcher opens to stay in it. The launch option --play does the same "
      "for one shortcut (a Steam shortcut, say).",
      colour::kMuted);
  WrappedText(
      "In the game: F1 opens the PC settings. Saves, settings and logs stay in the game's "
      "folder.",
      colour::kMuted);
}

}  // namespace

void ChooseGameCopy(App& app, const std::filesystem::path& chosen) {
  // A choice replaces play/assets, which a running job may use (the buttons are disabled then).
  if (app.busy) return;
  GameCopy copy = IdentifyGameCopy(app.game, chosen);
  if (!copy.ok) {
    // Nothing has changed: the copy there stays. The sentence names the pick, which the page
    // shows nowhere else.
    app.pick_error = PathToUtf8(chosen) + ": " + copy.message;
    return;
  }
  app.pick_error.clear();
  std::string error;
  bool copy_needed = false;
  if (!app.builder->ChooseGameWithoutCopying(copy, copy_needed, error)) {
    // The game's files may be gone by now: no copy is in place until one is chosen again.
    copy.ok = false;
    copy.message = error;
  }
  if (!copy_needed) {
    app.game_copy = copy;
    return;
  }
  // An image on another drive is copied by a job, which takes minutes for a big one: the window
  // keeps drawing, with the copy's bar and Stop in the footer. The way was cleared for it, so
  // until the copy is whole no copy of the game is in place.
  app.game_copy = GameCopy{};
  app.copying_game = copy;
  app.game_copied = false;
  app.music_job = false;  // the job's outcome shows on this page
  StartPageJob(app, "CopyGameJob", CopyGameJob(app, copy), kCopyGameTitle);
}

void TakeCopiedGame(App& app) {
  if (!app.copying_game.ok || app.busy) return;
  // A stopped or failed copy recorded nothing and left no copy: the error line says why, and
  // the page offers the choice again.
  if (app.game_copied) app.game_copy = app.copying_game;
  app.copying_game = GameCopy{};
}

void GamePage(App& app, void* window, ImFont* bold, const Status& status,
              const std::string& error, const std::string& done) {
  PageState page;
  page.busy = app.busy;
  page.working = page.busy && app.job_kind == JobKind::kGame;
  page.in_place = app.builder->IsGameInPlace();
  page.running = app.GameRunning();

  LauncherBanner(app, bold, page);
  YourGame(app, window, bold, page);
  if (app.builder->PackageMode()) {
    InstallSection(app, bold, page, status, error, done);
  } else {
    BuildSection(app, bold, page, error, done);
  }
  PlaySection(app, bold, page);
}

}  // namespace launcher
