#include "text/utf16.h"

#include <cstdint>

namespace {

constexpr std::uint32_t replacement = 0xFFFD;

bool is_high_surrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::uint32_t unit_at(const unsigned char* in, std::size_t i) {
  return static_cast<std::uint32_t>(in[i]) | static_cast<std::uint32_t>(in[i + 1]) << 8;
}

char* put_utf8(std::uint32_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | c >> 6);
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | c >> 12);
    *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | c >> 18);
    *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The code point of the sequence at text[i], and its length; replacement and
// length 1 when it is not a valid sequence.
std::uint32_t next_code_point(std::string_view text, std::size_t i, std::size_t& length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t count;
  std::uint32_t c, least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return replacement;
  }
  if (text.size() - i < count) return replacement;
  for (std::size_t k = 1; k < count; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return replacement;
    c = c << 6 | (byte(i + k) & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return replacement;
  length = count;
  return c;
}

// Calls put(unit) for each UTF-16 unit of `text`; with latin1_fallback, a
// byte that starts no valid sequence stands for itself.
template <class Put>
void for_each_unit(std::string_view text, bool latin1_fallback, Put put) {
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {  // most of a log's text, without a call
      put(static_cast<unsigned char>(text[i]));
      length = 1;
      continue;
    }
    std::uint32_t c = next_code_point(text, i, length);
    if (latin1_fallback && c == replacement && length == 1) c = static_cast<unsigned char>(text[i]);
    if (c < 0x10000) {
      put(c);
    } else {
      c -= 0x10000;
      put(0xD800 | c >> 10);
      put(0xDC00 | (c & 0x3FF));
    }
  }
}

}  // namespace

std::size_t utf16le_to_utf8(const unsigned char* in, std::size_t bytes, char* out) noexcept {
  char* const start = out;
  std::size_t i = 0;
  while (i + 1 < bytes) {
    // Four ASCII units at once: most of a URL or a user name.
    if (i + 8 <= bytes && (in[i] | in[i + 2] | in[i + 4] | in[i + 6]) < 0x80 &&
        (in[i + 1] | in[i + 3] | in[i + 5] | in[i + 7]) == 0) {
      for (std::size_t k = 0; k < 8; k += 2) *out++ = static_cast<char>(in[i + k]);
      i += 8;
      continue;
    }
    std::uint32_t c = unit_at(in, i);
    i += 2;
    if (c < 0x80) {  // most of a URL or a user name
      *out++ = static_cast<char>(c);
      continue;
    }
    if (is_high_surrogate(c) && i + 1 < bytes && is_low_surrogate(unit_at(in, i))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit_at(in, i) - 0xDC00);
      i += 2;
    } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
      c = replacement;
    }
    out = put_utf8(c, out);
  }
  if (i < bytes) out = put_utf8(replacement, out);
  return static_cast<std::size_t>(out - start);
}

namespace {

std::string to_utf16le(std::string_view utf8, bool latin1_fallback) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for_each_unit(utf8, latin1_fallback, [&out](std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  });
  return out;
}

// Writes log_text_to_utf16le's bytes to out, which has room for them; their size.
std::size_t write_units(std::string_view text, char* out) noexcept {
  char* const start = out;
  for_each_unit(text, true, [&out](std::uint32_t unit) {
    *out++ = static_cast<char>(unit & 0xFF);
    *out++ = static_cast<char>(unit >> 8);
  });
  return static_cast<std::size_t>(out - start);
}

}  // namespace

std::string utf8_to_utf16le(std::string_view utf8) { return to_utf16le(utf8, false); }

std::string log_text_to_utf16le(std::string_view text) { return to_utf16le(text, true); }

std::size_t log_text_to_utf16le(std::string_view text, char* out, std::size_t room) noexcept {
  // No byte gives more than two: most text is written at once, without a count first.
  if (text.size() <= room / 2) return write_units(text, out);
  std::size_t size = 0;
  for_each_unit(text, true, [&size](std::uint32_t) { size += 2; });
  if (size <= room) write_units(text, out);
  return size;
}
