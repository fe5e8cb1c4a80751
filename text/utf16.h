// UTF-16 little-endian and UTF-8, as the web server's UNICODE_ variables and
// the script's strings need them. Pure code, no state: safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most UTF-8 bytes that utf16le_to_utf8 writes for `utf16_bytes` bytes of input.
constexpr std::size_t utf8_capacity(std::size_t utf16_bytes) noexcept {
  return (utf16_bytes + 1) / 2 * 3;
}

// Writes the UTF-8 form of `bytes` bytes of UTF-16LE at `in` to `out`, which
// holds utf8_capacity(bytes); returns the bytes written. An unpaired surrogate,
// and a last byte without its partner, each become U+FFFD.
std::size_t utf16le_to_utf8(const unsigned char* in, std::size_t bytes, char* out) noexcept;

// The UTF-16LE bytes of `utf8`, without terminator; a byte that starts no valid
// sequence (overlong forms and surrogates included) becomes U+FFFD. May throw
// std::bad_alloc.
std::string utf8_to_utf16le(std::string_view utf8);

// As utf8_to_utf16le, but a byte that starts no valid sequence stands for
// itself as Latin-1: a log written in a Western code page rather than UTF-8.
std::string log_text_to_utf16le(std::string_view text);

// log_text_to_utf16le's bytes written to `out` when they fit its `room` bytes,
// which it leaves untouched otherwise; returns how many bytes they are.
std::size_t log_text_to_utf16le(std::string_view text, char* out, std::size_t room) noexcept;
