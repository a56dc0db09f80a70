// The number at the start of a tool's output text, as the progress readers take it.
#pragma once

#include <string_view>

namespace launcher {

// The longest decimal number ("12", "-3", "2.9", "+.5"; no exponent, no "inf" or "nan") at the
// start of `text` after leading white space, or 0 when none stands there. False when the number
// does not fit a double.
bool ReadLeadingNumber(std::string_view text, double& value);

}  // namespace launcher
