#include "builder/leading_number.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace launcher {

bool ReadLeadingNumber(std::string_view text, double& value) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const size_t start = at;
  auto digits = [&] {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  size_t count = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    const size_t fraction = digits();
    if (count + fraction == 0) --at;  // a lone "." is no number
    count += fraction;
  }
  value = 0;
  if (count == 0) return true;
  const auto [end, ec] =
      std::from_chars(text.data() + start, text.data() + at, value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + at || !std::isfinite(value)) return false;
  if (negative) value = -value;
  return true;
}

}  // namespace launcher
