#include "settings/read_int32.h"

#include <cstring>
#include <limits>

namespace {

bool is_space(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads `text` into `field` when the number lies within Field's range.
template <class Field>
bool read_integer(const std::string& text, Field& field) {
  std::size_t at = 0;
  while (at < text.size() && is_space(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

  // The magnitude of the most negative value is one beyond the largest.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<Field>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  bool any_digit = false;
  bool too_large = false;
  for (; at < text.size() && is_digit(text[at]); ++at) {
    any_digit = true;
    if (too_large) continue;
    const auto digit = static_cast<std::uint64_t>(text[at] - '0');
    // Checked before multiplying, so that 64 bits never wrap.
    too_large = magnitude > (limit - digit) / 10;
    magnitude = magnitude * 10 + digit;
  }
  if (!any_digit || too_large) return false;
  // Two's complement: the negated magnitude converts exactly, the minimum included.
  field = static_cast<Field>(negative ? ~magnitude + 1 : magnitude);
  return true;
}

}  // namespace

bool read_int32(const std::string& text, std::int32_t& field) { return read_integer(text, field); }

bool read_int64(const std::string& text, std::int64_t& field) { return read_integer(text, field); }
