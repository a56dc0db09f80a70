#include "app/theme.h"

namespace launcher {

// Debian's fonts-wine installs Tahoma and Tahoma Bold here.
std::filesystem::path SystemFontsFolder() { return "/usr/share/wine/fonts"; }

}  // namespace launcher
