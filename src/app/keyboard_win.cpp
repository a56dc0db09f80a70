#include "app/keyboard.h"

#include <windows.h>

namespace launcher {

bool ShiftHeld() { return (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0; }

}  // namespace launcher
