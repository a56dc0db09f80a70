// The keyboard's state at the moment of the call, read from the system rather than from the
// window's events (the window may not exist yet or may not have the focus).
#pragma once

namespace launcher {

// Either Shift key is held now; false when the system cannot tell.
bool ShiftHeld();

}  // namespace launcher
