// The one state object of a launcher run and the job runner that does long work on a single
// worker thread.
//
// The entry function keeps one App on its stack from start to exit. The worker reports through
// the Builder's two sinks (StoreStatus, AppendLogLine), which write into the App under
// state_mutex; the interface copies that state once per frame.
//
// Lock order: the Builder's log mutex, then state_mutex. Builder::Log calls the log sink while it
// holds its own mutex, so nothing may call Builder::Log while holding state_mutex.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/game_process.h"
#include "builder/builder.h"
#include "catalogue/game_copy.h"
#include "catalogue/game_description.h"
#include "catalogue/release.h"
#include "platform/folder_lock.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/wait_reporting_http.h"

namespace launcher {

// Long work: true on success, or false with one sentence for the player in the argument.
using Job = std::function<bool(std::string&)>;

// What a job that was stopped through the Builder's cancel flag shows, naming `button` after
// "press" (kSameButton, or the label and place of a button the page does not show).
std::string StoppedText(const std::string& button = kSameButton);
// The log keeps at most this many lines for the Log page.
inline constexpr size_t kLogLineLimit = 2000;

// What a job does, as far as the pages care: the start-up check leaves the play folder alone,
// so the game may be played while it runs; a game job installs, builds or updates the game,
// and the Game page follows its steps.
enum class JobKind { kOther, kStartupCheck, kGame };

struct App {
  App();
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The launcher's hold on its root for the whole run, taken at start-up. First, so that it is
  // let go of last, after the Builder and everything else that works in the folder.
  FolderLock folder_lock;
  GameDescription game;
  std::unique_ptr<Http> http;
  std::unique_ptr<Platform> platform;
  std::unique_ptr<Builder> builder;     // set at start-up
  std::filesystem::path root;
  GameCopy game_copy;                   // not accepted until one is chosen or identified
  bool agreed = false;                  // Microsoft's licence terms accepted
  std::atomic<bool> busy{false};        // a job runs on the worker thread
  std::atomic<bool> game_update_ready{false};
  std::mutex release_mutex;             // guards the store of offered_release
  Release offered_release;              // read only once launcher_offered is set
  std::atomic<bool> launcher_offered{false};
  std::atomic<bool> banner_dismissed{false};
  std::atomic<bool> restart_pending{false};  // the new launcher is in place, to be started
  std::thread worker;
  std::mutex state_mutex;               // guards the fields from status to tools_size, music_folder
                                        // and music_summary
  Status status;
  std::string wait_text;                // the server the job waits for, shown over the status
                                        // detail; "" while none keeps it waiting
  std::string error;                    // the last job's error, or the main thread's
  std::string done;                     // the last successful job's title
  std::deque<std::string> log_lines;    // oldest first, at most kLogLineLimit
  uint64_t build_files_size = 0;
  uint64_t tools_size = 0;
  int section = 0;                      // 0 Game, 1 Your music, 2 Manage, 3 Log
  std::filesystem::path music_folder;
  bool music_job = false;               // the last job started was the music import
  std::string music_summary;
  bool play_at_start = false;           // the saved choice, as the Game page shows it
  std::atomic<bool> play_pending{false};  // start the game once the start-up check has ended
  // The kind of the last job started: written by the main thread under state_mutex, read by it
  // without the lock and by the wait report (StoreWait) under it.
  JobKind job_kind = JobKind::kOther;
  std::unique_ptr<GameProcess> played_game;  // main thread only: the last game Play started
  std::string pick_error;  // main thread only: why the last pick was refused, "" when accepted
  // Main thread only: the pick whose disc image the running copy job puts into play/assets. It
  // becomes game_copy once the job has ended with game_copied set; not accepted while none.
  GameCopy copying_game;
  std::atomic<bool> game_copied{false};  // set by the copy job once the copy is in place
  // Main thread only. Play at start decides by then whether the start-up check has answered or
  // not; set at start-up.
  std::chrono::steady_clock::time_point play_decide_by{};

  // Main thread only. The game that Play started, or a process it handed over to, still runs;
  // until it ends nothing may change the play folder under it.
  bool GameRunning();
  // Main thread only. Starts `job` of `kind` on the worker thread; does nothing while a job
  // runs. On success the job's `title` becomes the done text ("" shows nothing).
  void StartJob(Job job, std::string title, JobKind kind = JobKind::kOther);
  // The worker thread's body for one job.
  void RunJob(const Job& job, const std::string& title);
};

// The Builder's status sink: copies the report into App::status.
std::function<void(const Status&)> StoreStatus(App& app);
// The Builder's log sink: adds the line to App::log_lines, dropping the oldest beyond the limit.
std::function<void(const std::string&)> AppendLogLine(App& app);
// The sentence for a job of `kind` that `host` has kept waiting for `seconds`; "" for 0. The
// start-up check, which ends by itself, only says what it waits for; other jobs name the way out.
std::string WaitText(JobKind kind, const std::string& host, int seconds);
// The wait report of the App's Http: puts the sentence for a server that keeps the job waiting
// into App::wait_text, and clears it once the wait is over.
WaitReport StoreWait(App& app);

// The start-up check gives up after this long, whatever the network does; the next start looks
// again.
inline constexpr std::chrono::seconds kStartupCheckLimit{15};

// The first job of every run: looks for a newer launcher release and asks the Builder whether a
// new version of the game is ready. Never fails; the log is its only report. It ends when the
// Builder's cancel flag is set (Stop, the shutdown) or once `limit` has passed.
Job StartupCheckJob(App& app, std::chrono::seconds limit = kStartupCheckLimit);

// The jobs the pages start, each with its title. They are defined with the runner so that every
// page starts the same body.
// Makes the game ready from the prebuilt package; its sentences name `button` after "press"
// (kSameButton, or "Update again" where the page's button reads "Update").
Job InstallJob(App& app, std::string button = kSameButton);
inline constexpr const char* kInstallTitle = "The game is ready. Press Play.";
Job BuildJob(App& app);  // builds the game
inline constexpr const char* kBuildTitle = "The game is built. Press Play.";
Job UpdateLauncherJob(App& app, Release release);  // a copy of offered_release
inline constexpr const char* kUpdateLauncherTitle = "";
// Imports `folder`; on success stores it in music_folder and the summary in music_summary.
Job MusicImportJob(App& app, std::filesystem::path folder);
inline constexpr const char* kMusicImportTitle = "Your music is ready.";
Job RemoveBuildFilesJob(App& app);
inline constexpr const char* kRemoveBuildFilesTitle =
    "Build files removed. An update builds everything again.";
Job RemoveToolsJob(App& app);
inline constexpr const char* kRemoveToolsTitle = "The old build tools are removed.";
Job RebuildJob(App& app);  // installs the package anew over the game, which stays playable
inline constexpr const char* kRebuildTitle = "The game is ready. Press Play.";
// Copies the chosen disc image into play/assets and records it (Builder::CopyChosenGame), then
// sets game_copied. A stopped copy leaves nothing to carry on from: its sentence says so.
Job CopyGameJob(App& app, GameCopy copy);
inline constexpr const char* kCopyGameTitle = "";
inline constexpr const char* kCopyStoppedText =
    "Stopped before your disc image was copied. Press \"Choose a disc image...\" to copy it "
    "again.";

}  // namespace launcher
