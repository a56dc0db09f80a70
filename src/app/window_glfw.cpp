// The program on Linux: a GLFW window with an OpenGL 3 context and Dear ImGui's GLFW and
// OpenGL3 backends, around the same App, pages and jobs as on Windows.
//
// Idle, the frame loop sleeps in glfwWaitEventsTimeout (vertical sync does nothing on some X
// servers, so waiting for events is what keeps an idle launcher off the processor); while
// something moves (a job, a pending start) it draws at most 60 frames per second.
//
// A second launcher started on the same folder opens no window: it signals the folder's holder
// (whose process ID is in the lock file, and which has that lock file open) and ends. The holder
// brings its own window forward on its next frame through GLFW, which asks a window manager for
// it (_NET_ACTIVE_WINDOW) or, without one, raises the window itself; a holder that waits hidden
// for the game it started at launch leaves that wait and shows its window first. Done this way,
// the window reached is the one of the launcher that holds this folder, not whichever window of
// another copy of the launcher has the same title, and the window system's part stays with the
// process that owns the window.
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/keyboard.h"
#include "app/pages.h"
#include "app/play_at_start.h"
#include "app/self_update.h"
#include "app/startup.h"
#include "platform/folder_lock.h"

namespace launcher {
namespace {

// Window sizes at a scale of 1.
constexpr int kWindowWidth = 900;
constexpr int kWindowHeight = 700;
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 480;
constexpr float kClear[4] = {62 / 255.0f, 70 / 255.0f, 55 / 255.0f, 1.0f};
constexpr auto kFrameInterval = std::chrono::microseconds(1000000 / 60);
// Frames drawn after the last input, so that hover and click states settle.
constexpr int kFramesAfterInput = 3;
constexpr double kIdleWait = 1.0;  // seconds

std::atomic<int> g_frames_owed{kFramesAfterInput};

// What a second launcher sends the folder's holder. SIGURG, because a process that does not
// expect it ignores it, so a stale ID in the lock file harms nobody.
constexpr int kComeForwardSignal = SIGURG;
std::atomic<bool> g_come_forward{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Installed before the folder's lock is taken, so that no holder's ID is ever written before it
// listens. SA_RESTART: the signal may land on any thread, and its system calls carry on.
void ListenForComeForward() {
  struct sigaction action {};
  action.sa_handler = [](int) { g_come_forward = true; };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(kComeForwardSignal, &action, nullptr);
}

// The ID of the launcher that holds `root`, or 0 when the lock's holder is no launcher of this
// folder (FolderLockLauncher); never this process.
std::uint64_t OtherLauncher(const std::filesystem::path& root) {
  const std::uint64_t holder = FolderLockLauncher(root);
  return holder <= INT_MAX && holder != std::uint64_t(getpid()) ? holder : 0;
}

// The second launcher's part: asks the launcher that holds `root` to come forward.
void AskHolderToComeForward(const std::filesystem::path& root) {
  if (const std::uint64_t holder = OtherLauncher(root)) kill(pid_t(holder), kComeForwardSignal);
}

// The holder's part: shows the window (hidden while the game played at start), restores it and
// raises it.
void ComeForward(GLFWwindow* window) {
  g_come_forward = false;
  if (!glfwGetWindowAttrib(window, GLFW_VISIBLE)) glfwShowWindow(window);
  if (glfwGetWindowAttrib(window, GLFW_ICONIFIED)) glfwRestoreWindow(window);
  glfwFocusWindow(window);
  g_frames_owed = kFramesAfterInput;
}

void NoteInput() { g_frames_owed = kFramesAfterInput; }

// Installed before ImGui's backend, which calls them after its own handling.
void WatchInput(GLFWwindow* window) {
  glfwSetCursorPosCallback(window, [](GLFWwindow*, double, double) { NoteInput(); });
  glfwSetMouseButtonCallback(window, [](GLFWwindow*, int, int, int) { NoteInput(); });
  glfwSetScrollCallback(window, [](GLFWwindow*, double, double) { NoteInput(); });
  glfwSetKeyCallback(window, [](GLFWwindow*, int, int, int, int) { NoteInput(); });
  glfwSetCharCallback(window, [](GLFWwindow*, unsigned int) { NoteInput(); });
  glfwSetWindowFocusCallback(window, [](GLFWwindow*, int) { NoteInput(); });
  glfwSetCursorEnterCallback(window, [](GLFWwindow*, int) { NoteInput(); });
  glfwSetFramebufferSizeCallback(window, [](GLFWwindow*, int, int) { NoteInput(); });
  glfwSetWindowRefreshCallback(window, [](GLFWwindow*) { NoteInput(); });
}

// scripts/bench-app.sh sets LAUNCHER_FRAME_TRACE to a file: the wall-clock time of every
// presented frame, in nanoseconds since the epoch, is appended to it, one line each.
class FrameTrace {
 public:
  FrameTrace() {
    const char* path = std::getenv("LAUNCHER_FRAME_TRACE");
    if (path != nullptr && *path != '\0') file_ = std::fopen(path, "a");
  }
  ~FrameTrace() {
    if (file_ != nullptr) std::fclose(file_);
  }
  void Presented() {
    if (file_ == nullptr) return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::fprintf(file_, "%lld\n", static_cast<long long>(
                                       std::chrono::duration_cast<std::chrono::nanoseconds>(now)
                                           .count()));
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

void ShowError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// Stops the running job while `leave` runs; when the job does not end in time the process ends
// at once with `code`, before the App it works on goes.
void StopOrEnd(App& app, int code, const std::function<void()>& leave = {}) {
  if (!StopLauncher(app, leave)) {
    std::fflush(nullptr);
    std::_Exit(code);
  }
}

// Places the window in the middle of the primary monitor's work area, scaled by its content
// scale; returns the scale.
float PlaceWindow(GLFWwindow* window) {
  float scale = 1.0f;
  GLFWmonitor* monitor = glfwGetPrimaryMonitor();
  if (monitor == nullptr) {
    return scale;
  }
  float scale_y = 1.0f;
  glfwGetMonitorContentScale(monitor, &scale, &scale_y);
  if (scale <= 0) scale = 1.0f;
  const int width = static_cast<int>(kWindowWidth * scale);
  const int height = static_cast<int>(kWindowHeight * scale);
  int left = 0, top = 0, work_width = 0, work_height = 0;
  glfwGetMonitorWorkarea(monitor, &left, &top, &work_width, &work_height);
  glfwSetWindowSize(window, width, height);
  glfwSetWindowPos(window, left + (work_width - width) / 2, top + (work_height - height) / 2);
  glfwSetWindowSizeLimits(window, static_cast<int>(kMinWidth * scale),
                          static_cast<int>(kMinHeight * scale), GLFW_DONT_CARE, GLFW_DONT_CARE);
  return scale;
}

// Whether something on screen may move without input: the frame loop then keeps drawing. A job
// owes a few frames after it ends too, so that its outcome shows at once.
bool Moving(App& app) {
  // A hand-over that waits for the game to end waits idle: the idle wait's second notices the end.
  if (app.busy || app.play_pending || (app.restart_pending && !app.GameRunning())) {
    g_frames_owed = kFramesAfterInput;
    return true;
  }
  return g_frames_owed > 0;
}

int Run(int argc, char** argv) {
  const std::filesystem::path self = OwnExePath();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  ListenForComeForward();
  App app;
  std::string error;
  const StartOutcome started =
      StartLauncher(app, self, args, ShiftHeld(), error,
                    [](const std::filesystem::path& root) { return OtherLauncher(root) != 0; });
  if (started == StartOutcome::kFailed) {
    ShowError(error);
    return 1;
  }
  if (started == StartOutcome::kAnotherRuns) {
    AskHolderToComeForward(app.root);
    return 0;
  }

  const std::string title = app.game.title + " - Launcher";
  glfwSetErrorCallback([](int code, const char* text) {
    std::fprintf(stderr, "GLFW error %d: %s\n", code, text != nullptr ? text : "");
  });
  GLFWwindow* window = nullptr;
  if (glfwInit()) {
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    window = glfwCreateWindow(100, 100, title.c_str(), nullptr, nullptr);
  }
  if (window == nullptr) {
    ShowError("OpenGL 3 could not start.");
    StopOrEnd(app, 1);
    glfwTerminate();
    return 1;
  }
  const float scale = PlaceWindow(window);
  glfwMakeContextCurrent(window);
  glfwSwapInterval(1);
  glfwShowWindow(window);

  ImFont* bold = CreateInterface(scale);
  WatchInput(window);
  ImGui_ImplGlfw_InitForOpenGL(window, true);
  ImGui_ImplOpenGL3_Init("#version 150");

  PlayAtStartWindow play_window;
  play_window.shift_held = ShiftHeld;
  play_window.hide = [window] { glfwHideWindow(window); };
  play_window.pump = [] {
    glfwPollEvents();
    return !g_come_forward;
  };
  play_window.show = [window] { ComeForward(window); };

  FrameTrace trace;
  auto next_frame = std::chrono::steady_clock::now();
  while (!glfwWindowShouldClose(window)) {
    if (Moving(app)) {
      std::this_thread::sleep_until(next_frame);
      glfwPollEvents();
      if (g_frames_owed > 0) --g_frames_owed;
    } else {
      glfwWaitEventsTimeout(kIdleWait);
    }
    next_frame = std::chrono::steady_clock::now() + kFrameInterval;
    if (glfwWindowShouldClose(window)) {
      break;
    }
    if (g_come_forward) ComeForward(window);

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    DrawLauncher(app, window, bold);
    ImGui::Render();
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(kClear[0], kClear[1], kClear[2], kClear[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
    trace.Presented();

    if (LeaveAfterFrame(app, self, play_window)) {
      break;
    }
    if (!app.busy && !glfwGetWindowAttrib(window, GLFW_VISIBLE)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // The window goes at once, whatever the worker still waits on.
  StopOrEnd(app, 0, [window] {
    glfwHideWindow(window);
    glfwPollEvents();
  });
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext();
  glfwDestroyWindow(window);
  glfwTerminate();
  return 0;
}

}  // namespace
}  // namespace launcher

int main(int argc, char** argv) { return launcher::Run(argc, argv); }
