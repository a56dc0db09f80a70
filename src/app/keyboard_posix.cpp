#include "app/keyboard.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <initializer_list>

namespace launcher {

bool ShiftHeld() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return false;
  }
  char keys[32] = {};
  XQueryKeymap(display, keys);
  bool held = false;
  for (KeySym sym : {XK_Shift_L, XK_Shift_R}) {
    const KeyCode code = XKeysymToKeycode(display, sym);
    if (code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0) {
      held = true;
    }
  }
  XCloseDisplay(display);
  return held;
}

}  // namespace launcher
