// Ends the driver with TerminateProcess, as the task manager does. The renames and removals of
// the whole program are counted by standing in for the system functions that make them: the
// program is linked statically, so each call into a system DLL goes through a slot of the
// executable's own import address table, and CountChanges points the slots of those functions
// at counting stand-ins that call the system's own.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "kill_points.h"

namespace job_driver {
namespace {

// A stand-in for one imported function: calls the system's own (`original`, taken from the slot
// it replaces) and counts the call when it succeeded. `kId` only tells the stand-ins of
// functions of the same type apart; `kZeroIsSuccess` is the C runtime's way (0 on success)
// rather than the system's (a nonzero BOOL).
template <int kId, bool kZeroIsSuccess, class... Args>
struct StandIn {
  using Function = int (*)(Args...);
  static inline Function original = nullptr;

  static int Call(Args... args) {
    const int result = original(args...);
    if ((result == 0) == kZeroIsSuccess) AfterChange();
    return result;
  }
};

struct Replacement {
  const char* name;
  void* stand_in;
  void** original;
};

template <class S>
Replacement Replace(const char* name) {
  return {name, reinterpret_cast<void*>(&S::Call), reinterpret_cast<void**>(&S::original)};
}

using PROGRESS = LPPROGRESS_ROUTINE;
const Replacement kReplacements[] = {
    Replace<StandIn<0, false, LPCWSTR, LPCWSTR, DWORD>>("MoveFileExW"),
    Replace<StandIn<1, false, LPCWSTR, LPCWSTR>>("MoveFileW"),
    Replace<StandIn<2, false, LPCWSTR, LPCWSTR, PROGRESS, LPVOID, DWORD>>("MoveFileWithProgressW"),
    Replace<StandIn<3, false, LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID>>("ReplaceFileW"),
    Replace<StandIn<4, false, LPCWSTR>>("DeleteFileW"),
    Replace<StandIn<5, false, LPCWSTR>>("RemoveDirectoryW"),
    Replace<StandIn<6, true, const wchar_t*, const wchar_t*>>("_wrename"),
    Replace<StandIn<7, true, const wchar_t*>>("_wremove"),
    Replace<StandIn<8, true, const wchar_t*>>("_wunlink"),
    Replace<StandIn<9, true, const wchar_t*>>("_wrmdir"),
    Replace<StandIn<10, true, const char*, const char*>>("rename"),
    Replace<StandIn<11, true, const char*>>("remove"),
    Replace<StandIn<12, true, const char*>>("_unlink"),
};

// Points one import address table slot at `stand_in`, keeping what it held in `original`.
void Patch(void** slot, void* stand_in, void** original) {
  DWORD was = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return;
  *original = *slot;
  *slot = stand_in;
  VirtualProtect(slot, sizeof *slot, was, &was);
}

// Walks the executable's imports, DLL by DLL and name by name, and replaces the functions of
// kReplacements that it imports.
void ReplaceImports() {
  auto* const base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    // The names come from the lookup table; the bound addresses sit in the same places of the
    // address table. Without a lookup table the address table still holds the names.
    const DWORD names = dll->OriginalFirstThunk != 0 ? dll->OriginalFirstThunk : dll->FirstThunk;
    const auto* name_entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; name_entry->u1.AddressOfData != 0; ++name_entry, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name_entry->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name_entry->u1.AddressOfData);
      const char* name = reinterpret_cast<const char*>(by_name->Name);
      for (const Replacement& replacement : kReplacements) {
        if (std::strcmp(name, replacement.name) == 0) {
          Patch(reinterpret_cast<void**>(&slot->u1.Function), replacement.stand_in,
                replacement.original);
        }
      }
    }
  }
}

}  // namespace

void CountChanges() { ReplaceImports(); }

void Die() { TerminateProcess(GetCurrentProcess(), 9); }

}  // namespace job_driver
