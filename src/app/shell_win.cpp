#include "app/shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>


#include "platform/platform.h"

namespace launcher {

namespace fs = std::filesystem;

fs::path PickPath(NativeWindow owner, bool folder_mode, const char* title) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&dialog)))) {
    return {};
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  options |= FOS_FORCEFILESYSTEM;
  if (folder_mode) options |= FOS_PICKFOLDERS;
  dialog->SetOptions(options);
  if (folder_mode) {
    const std::wstring wide_title =
        Utf8ToWide(title != nullptr ? title : "Choose the folder with the game's files");
    dialog->SetTitle(wide_title.c_str());
  } else {
    const COMDLG_FILTERSPEC types[] = {
        {L"Xbox disc image or default.xbe", L"*.iso;default.xbe"},
        {L"All files", L"*.*"},
    };
    dialog->SetFileTypes(2, types);
    dialog->SetTitle(L"Choose the game's disc image");
  }
  fs::path chosen;
  if (SUCCEEDED(dialog->Show(static_cast<HWND>(owner)))) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->GetResult(&item))) {
      PWSTR text = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &text))) {
        chosen = fs::path(text);
        CoTaskMemFree(text);
      }
      item->Release();
    }
  }
  dialog->Release();
  return chosen;
}

void OpenPath(const fs::path& path) {
  ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OpenUrl(const std::string& url) {
  const std::wstring wide = Utf8ToWide(url);
  ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

uint64_t FreeSpaceOnDrive(const fs::path& path) {
  const fs::path existing = NearestExisting(path);
  ULARGE_INTEGER free_to_caller = {};
  if (existing.empty() || !GetDiskFreeSpaceExW(existing.c_str(), &free_to_caller, nullptr, nullptr)) {
    return 0;
  }
  return free_to_caller.QuadPart;
}

}  // namespace launcher
