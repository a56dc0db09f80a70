// The program on Windows: wWinMain, one Win32 window with a Direct3D 11 swap chain, and Dear
// ImGui's Win32 and DX11 backends around the App, its pages and its jobs.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // per-monitor DPI awareness v2, GetDpiForWindow
#endif
#include <windows.h>
#include <d3d11.h>
#include <dwmapi.h>
#include <shellapi.h>
#include <objbase.h>

#include <backends/imgui_impl_dx11.h>
#include <backends/imgui_impl_win32.h>
#include <imgui.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/keyboard.h"
#include "app/pages.h"
#include "app/play_at_start.h"
#include "app/self_update.h"
#include "app/startup.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND window, UINT message,
                                                             WPARAM wparam, LPARAM lparam);

namespace launcher {
namespace {

constexpr wchar_t kClassName[] = L"KelvaneLauncher";
constexpr int kWindowWidth = 900;  // at 96 DPI, outer size
constexpr int kWindowHeight = 700;
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 480;
constexpr float kClear[4] = {62 / 255.0f, 70 / 255.0f, 55 / 255.0f, 1.0f};
constexpr DWORD kDarkTitleBar = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE
// How long a second launcher waits for the window of the first, in milliseconds.
constexpr int kLauncherWindowWait = 10000;

// The client size stored by the window procedure on a resize; 0 while none is pending.
UINT g_pending_width = 0;
UINT g_pending_height = 0;

// What a second launcher posts to the first one's window to have it show itself and come
// forward: a message registered by name, so both processes know its number, and no other
// program's window takes it for one of its own. 0 when it could not be registered.
UINT ComeForwardMessage() {
  static const UINT message = RegisterWindowMessageW(L"KelvaneLauncher.ComeForward");
  return message;
}
// Set by the window procedure when that message arrives; the frame loop, or the wait for the
// game played at start, acts on it.
bool g_come_forward = false;

// The Direct3D objects of the one window.
struct Direct3D {
  ID3D11Device* device = nullptr;
  ID3D11DeviceContext* context = nullptr;
  IDXGISwapChain* swap_chain = nullptr;
  ID3D11RenderTargetView* target = nullptr;

  bool Create(HWND window) {
    DXGI_SWAP_CHAIN_DESC desc = {};
    desc.BufferCount = 2;
    desc.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.OutputWindow = window;
    desc.SampleDesc.Count = 1;
    desc.Windowed = TRUE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
    D3D_FEATURE_LEVEL level;
    for (D3D_DRIVER_TYPE driver : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
      if (SUCCEEDED(D3D11CreateDeviceAndSwapChain(nullptr, driver, nullptr, 0, levels, 2,
                                                  D3D11_SDK_VERSION, &desc, &swap_chain,
                                                  &device, &level, &context))) {
        return true;
      }
    }
    return false;
  }

  void MakeTarget() {
    ID3D11Texture2D* back_buffer = nullptr;
    if (SUCCEEDED(swap_chain->GetBuffer(0, IID_PPV_ARGS(&back_buffer)))) {
      device->CreateRenderTargetView(back_buffer, nullptr, &target);
      back_buffer->Release();
    }
  }

  void ReleaseTarget() {
    if (target != nullptr) {
      target->Release();
      target = nullptr;
    }
  }

  void Resize(UINT width, UINT height) {
    ReleaseTarget();
    swap_chain->ResizeBuffers(0, width, height, DXGI_FORMAT_UNKNOWN, 0);
    MakeTarget();
  }

  ~Direct3D() {
    ReleaseTarget();
    if (swap_chain != nullptr) swap_chain->Release();
    if (context != nullptr) context->Release();
    if (device != nullptr) device->Release();
  }
};

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (ImGui_ImplWin32_WndProcHandler(window, message, wparam, lparam)) {
    return 1;
  }
  if (message != 0 && message == ComeForwardMessage()) {
    g_come_forward = true;
    return 0;
  }
  switch (message) {
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) {
        g_pending_width = LOWORD(lparam);
        g_pending_height = HIWORD(lparam);
      }
      return 0;
    case WM_GETMINMAXINFO: {
      const int dpi = static_cast<int>(GetDpiForWindow(window));
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize.x = dpi * kMinWidth / 96;
      info->ptMinTrackSize.y = dpi * kMinHeight / 96;
      return 0;
    }
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      // The frame loop ends and hides the window while the job stops; a destroy here would take
      // its time before the stop began.
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The command line's arguments after the program's name, as UTF-8.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  if (wide != nullptr) LocalFree(wide);
  return args;
}

// Handles every pending message; false once WM_QUIT has been seen.
bool PumpMessages() {
  bool quit = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (message.message == WM_QUIT) quit = true;
  }
  return !quit;
}

// Stops the running job while `leave` runs; when the job does not end in time the process ends
// at once with `code`, before the App it works on goes (a transfer stalled inside WinHTTP would
// also hold a normal process exit).
void StopOrEnd(App& app, UINT code, const std::function<void()>& leave = {}) {
  if (!StopLauncher(app, leave)) {
    TerminateProcess(GetCurrentProcess(), code);
  }
}

HWND MakeWindow(HINSTANCE instance, const std::wstring& title) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_CLASSDC;
  window_class.lpfnWndProc = WndProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kClassName;
  RegisterClassExW(&window_class);
  return CreateWindowW(kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                       CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, nullptr);
}

// The program a process runs, as a full path; empty when it cannot be asked.
std::wstring ProcessImage(DWORD process_id) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return {};
  std::wstring image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  const bool read = QueryFullProcessImageNameW(process, 0, image.data(), &size) != 0;
  CloseHandle(process);
  image.resize(read ? size : 0);
  return image;
}

// The window of another launcher of this folder, hidden or not; nullptr when there is none.
// Copies of the launcher in other folders have windows of the same class and title, so the
// window's process must run this very program (the folder lies beside it).
HWND FindLauncherOfThisFolder(const std::wstring& title) {
  const std::wstring self = OwnExePath().wstring();
  for (HWND window = FindWindowExW(nullptr, nullptr, kClassName, title.c_str()); window != nullptr;
       window = FindWindowExW(nullptr, window, kClassName, title.c_str())) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == 0 || process_id == GetCurrentProcessId()) continue;
    const std::wstring image = ProcessImage(process_id);
    if (!image.empty() && CompareStringOrdinal(image.c_str(), -1, self.c_str(), -1, TRUE) ==
                              CSTR_EQUAL) {
      return window;
    }
  }
  return nullptr;
}

// The window of the launcher that holds this folder, which may still be making it (it holds the
// folder's lock from before its window exists): nullptr when none has come within a few seconds.
HWND WaitForLauncherOfThisFolder(const std::wstring& title) {
  for (int waited = 0;; waited += 100) {
    const HWND window = FindLauncherOfThisFolder(title);
    if (window != nullptr || waited >= kLauncherWindowWait) return window;
    Sleep(100);
  }
}

// A second launcher started on the same folder opens no window: it brings the first one's
// forward, restored when minimised. The system lets this process make it the foreground window,
// being the one the player has just started. A window hidden while the game plays at start
// cannot be brought forward from outside: this process lets the first one take the foreground
// and asks it to show itself.
void BringOtherLauncherForward(HWND other) {
  if (other == nullptr) return;
  if (IsWindowVisible(other)) {
    if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
    SetForegroundWindow(other);
    return;
  }
  DWORD process_id = 0;
  GetWindowThreadProcessId(other, &process_id);
  AllowSetForegroundWindow(process_id);
  if (ComeForwardMessage() != 0) PostMessageW(other, ComeForwardMessage(), 0, 0);
}

// The first launcher's part: shows its window (hidden while the game played at start),
// restores it and brings it forward.
void ComeForward(HWND window) {
  g_come_forward = false;
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
}

// Sizes the window for its DPI and centres it in the work area; returns the scale.
float PlaceWindow(HWND window) {
  const float scale = static_cast<float>(GetDpiForWindow(window)) / 96.0f;
  const int width = static_cast<int>(kWindowWidth * scale);
  const int height = static_cast<int>(kWindowHeight * scale);
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  const BOOL dark = TRUE;
  DwmSetWindowAttribute(window, kDarkTitleBar, &dark, sizeof dark);
  return scale;
}

int Run(HINSTANCE instance) {
  const std::filesystem::path self = OwnExePath();
  App app;
  std::string error;
  // The title is known once StartLauncher has read the game description, before it looks at
  // the folder's lock.
  const auto title_of = [&app] { return Utf8ToWide(app.game.title + " - Launcher"); };
  const StartOutcome started =
      StartLauncher(app, self, Arguments(), ShiftHeld(), error,
                    [&](const std::filesystem::path& root) {
                      return FolderLockIsLauncher(root) ||
                             FindLauncherOfThisFolder(title_of()) != nullptr;
                    });
  if (started == StartOutcome::kFailed) {
    MessageBoxW(nullptr, Utf8ToWide(error).c_str(), L"Launcher", MB_ICONERROR | MB_OK);
    return 1;
  }

  const std::wstring title = title_of();
  if (started == StartOutcome::kAnotherRuns) {
    BringOtherLauncherForward(WaitForLauncherOfThisFolder(title));
    return 0;
  }
  HWND window = MakeWindow(instance, title);
  const float scale = PlaceWindow(window);
  Direct3D d3d;
  if (!d3d.Create(window)) {
    MessageBoxW(window, L"Direct3D 11 could not start.", title.c_str(), MB_ICONERROR | MB_OK);
    StopOrEnd(app, 1);
    DestroyWindow(window);
    UnregisterClassW(kClassName, instance);
    return 1;
  }
  d3d.MakeTarget();
  ShowWindow(window, SW_SHOWDEFAULT);
  UpdateWindow(window);

  ImFont* bold = CreateInterface(scale);
  ImGui_ImplWin32_Init(window);
  ImGui_ImplDX11_Init(d3d.device, d3d.context);

  PlayAtStartWindow play_window;
  play_window.shift_held = ShiftHeld;
  play_window.hide = [window] { ShowWindow(window, SW_HIDE); };
  play_window.pump = [] {
    PumpMessages();
    return !g_come_forward;
  };
  play_window.show = [window] { ComeForward(window); };

  while (PumpMessages()) {
    if (g_come_forward) ComeForward(window);
    if (g_pending_width != 0) {
      d3d.Resize(g_pending_width, g_pending_height);
      g_pending_width = g_pending_height = 0;
    }
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    DrawLauncher(app, window, bold);
    ImGui::Render();
    d3d.context->OMSetRenderTargets(1, &d3d.target, nullptr);
    d3d.context->ClearRenderTargetView(d3d.target, kClear);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    d3d.swap_chain->Present(1, 0);

    if (LeaveAfterFrame(app, self, play_window)) {
      break;
    }
    if (!app.busy && !IsWindowVisible(window)) {
      Sleep(50);
    }
  }

  // The window goes at once, whatever the worker still waits on; hiding may take a while of its
  // own (Wine without a window manager waits 2 s for one), so the job stops meanwhile.
  StopOrEnd(app, 0, [window] { ShowWindow(window, SW_HIDE); });
  ImGui_ImplDX11_Shutdown();
  ImGui_ImplWin32_Shutdown();
  ImGui::DestroyContext();
  return 0;
}

}  // namespace
}  // namespace launcher

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int code = launcher::Run(instance);
  CoUninitialize();
  return code;
}
