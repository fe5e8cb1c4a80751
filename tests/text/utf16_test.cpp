#include <gtest/gtest.h>

#include <string>

#include "text/utf16.h"

namespace {

std::string to_utf8(const std::string& utf16le) {
  std::string out(utf8_capacity(utf16le.size()), '\0');
  out.resize(utf16le_to_utf8(reinterpret_cast<const unsigned char*>(utf16le.data()), utf16le.size(), &out[0]));
  return out;
}

const std::string replacement = "\xEF\xBF\xBD";

TEST(utf16le_to_utf8, converts_each_length_and_replaces_what_is_broken) {
  struct conversion_case {
    const char* what;
    std::string utf16le;
    std::string utf8;
  };
  const conversion_case cases[] = {
      {"empty", "", ""},
      {"ASCII", std::string("/\0a\0", 4), "/a"},
      {"two bytes", "\xE9" + std::string(1, '\0'), "\xC3\xA9"},                    // U+00E9
      {"three bytes", "\xAC\x20", "\xE2\x82\xAC"},                                // U+20AC
      {"four bytes", std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},                     // U+1F600
      {"the largest", "\xFF\xDB\xFF\xDF", "\xF4\x8F\xBF\xBF"},                     // U+10FFFF
      {"a high surrogate alone", std::string("\x3D\xD8" "a\0", 4), replacement + "a"},
      {"a low surrogate alone", std::string("\x00\xDE" "a\0", 4), replacement + "a"},
      {"a high surrogate last", "\x3D\xD8", replacement},
      {"two high surrogates", std::string("\x3D\xD8\x3D\xD8\x00\xDE", 6), replacement + "\xF0\x9F\x98\x80"},
      {"an odd byte count", std::string("a\0b", 3), "a" + replacement},
      {"ASCII runs beside others", std::string("/\0a\0b\0c\0\xE9\0d\0e\0f\0g\0h\0i\0j\0k\0\x3D\xD8", 28),
       "/abc\xC3\xA9" "defghijk" + replacement},
  };
  for (const conversion_case& c : cases) {
    EXPECT_EQ(to_utf8(c.utf16le), c.utf8) << c.what;
    EXPECT_LE(c.utf8.size(), utf8_capacity(c.utf16le.size())) << c.what;
  }
}

TEST(utf8_to_utf16le, converts_back_and_replaces_what_is_not_utf8) {
  struct conversion_case {
    const char* what;
    std::string utf8;
    std::string utf16le;
  };
  const std::string fffd = "\xFD\xFF";
  const conversion_case cases[] = {
      {"every length", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       std::string("a\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10)},
      {"a lone continuation byte", "\x80" "a", fffd + std::string("a\0", 2)},
      {"an overlong form", "\xC0\xAF", fffd + fffd},
      {"a surrogate's form", "\xED\xA0\x80", fffd + fffd + fffd},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"cut short", "\xE2\x82", fffd + fffd},
  };
  for (const conversion_case& c : cases) EXPECT_EQ(utf8_to_utf16le(c.utf8), c.utf16le) << c.what;
}

TEST(log_text_to_utf16le, takes_what_is_not_utf8_as_latin1) {
  EXPECT_EQ(log_text_to_utf16le("\xC3\xA9\xE9\xEF\xBF\xBD\xC0"), std::string("\xE9\0\xE9\0\xFD\xFF\xC0\0", 8));
}

// Into a buffer: the same bytes when they fit, whichever way it counts them
// first (a four-byte sequence gives four); the buffer untouched when not.
TEST(log_text_to_utf16le, writes_into_a_buffer_only_what_fits) {
  const std::string texts[] = {"", "/caf\xC3\xA9\xE9", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"};
  for (const std::string& text : texts) {
    const std::string expected = log_text_to_utf16le(text);
    for (std::size_t room : {expected.size(), 2 * text.size(), expected.size() - (expected.empty() ? 0 : 1)}) {
      std::string out(room, '#');
      EXPECT_EQ(log_text_to_utf16le(text, &out[0], room), expected.size()) << text << " in " << room;
      EXPECT_EQ(out, room >= expected.size() ? expected + std::string(room - expected.size(), '#') : std::string(room, '#'))
          << text << " in " << room;
    }
  }
}

}  // namespace
