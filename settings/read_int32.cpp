#include "settings/read_int32.h"

#include <cstring>
#include <limits>

namespace {

bool is_space(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool read_int32(const std::string& text, std::int32_t& field) {
  std::size_t at = 0;
  while (at < text.size() && is_space(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

  // The magnitude of the most negative value is one beyond the largest.
  const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + (negative ? 1 : 0);
  std::int64_t magnitude = 0;
  bool any_digit = false;
  bool too_large = false;
  for (; at < text.size() && is_digit(text[at]); ++at) {
    any_digit = true;
    if (too_large) continue;
    magnitude = magnitude * 10 + (text[at] - '0');
    too_large = magnitude > limit;
  }
  if (!any_digit || too_large) return false;
  field = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}
