// The reading rules of server variables: the first buffer, the second read
// within the variable limit, the count beyond it, and UNICODE_ names.
#include <gtest/gtest.h>

#include <cstring>
#include <lua.hpp>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "script/server_variable.h"

namespace {

// Answers as IIS does: FALSE, "buffer too small" and the bytes needed when the
// value does not fit; a UNICODE_ name's value ends with two zero bytes.
struct sized_server {
  std::string value;
  bool tells_size = true;  // false: FALSE without touching *size
  int asked = 0;
  HTTP_FILTER_CONTEXT context{};

  static BOOL WINAPI answer(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer, LPDWORD size) {
    auto* self = static_cast<sized_server*>(context->ServerContext);
    ++self->asked;
    const std::size_t terminator = is_wide_variable(name) ? 2 : 1;
    const DWORD needed = static_cast<DWORD>(self->value.size() + terminator);
    if (*size < needed) {
      if (self->tells_size) *size = needed;
      platform::set_last_error_buffer_too_small();
      return FALSE;
    }
    std::memcpy(buffer, self->value.data(), self->value.size());
    std::memset(static_cast<char*>(buffer) + self->value.size(), 0, terminator);
    *size = needed;
    return TRUE;
  }
};

void count(void* over) noexcept { ++*static_cast<int*>(over); }

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

struct size_case {
  const char* what;
  const char* name;
  const char* answered;  // the server's bytes, repeated `times`
  const char* read;      // what the script gets for each repetition
  std::size_t times;
  std::uint32_t limit;
  bool tells_size;
  int asked;
  int over_limit;
};

TEST(server_variable, size_rules) {
  const char euro_le[] = {'\xAC', '\x20', 0};  // U+20AC in UTF-16LE
  const size_case cases[] = {
      {"fits", "HTTP_COOKIE", "c", "c", 2047, 65536, true, 1, 0},
      {"fits, the limit absent", "HTTP_COOKIE", "c", "c", 2047, 0, true, 1, 0},
      {"needs a second read", "HTTP_COOKIE", "c", "c", 5000, 65536, true, 2, 0},
      {"needs the limit exactly", "HTTP_COOKIE", "c", "c", 4095, 4096, true, 2, 0},
      {"over the limit", "HTTP_COOKIE", "c", "", 4096, 4096, true, 1, 1},
      {"FALSE with no size", "HTTP_COOKIE", "c", "", 5000, 65536, false, 1, 0},
      {"the limit absent", "HTTP_COOKIE", "c", "", 5000, 0, true, 1, 0},
      {"UNICODE_ fits by its UTF-16 bytes", "UNICODE_URL", euro_le, "\xE2\x82\xAC", 1023, 0, true, 1, 0},
      {"UNICODE_ needs a second read", "unicode_url", euro_le, "\xE2\x82\xAC", 3000, 65536, true, 2, 0},
      {"UNICODE_ over the limit by its UTF-16 bytes", "UNICODE_URL", euro_le, "", 2048, 4096, true, 1, 1},
  };
  for (const size_case& c : cases) {
    SCOPED_TRACE(c.what);
    sized_server server;
    server.value = repeat(c.answered, c.times);
    server.tells_size = c.tells_size;
    server.context.ServerContext = &server;
    server.context.GetServerVariable = &sized_server::answer;
    int over = 0;
    set_variable_reading({c.limit, &count, &over});
    const std::string expected = repeat(c.read, c.times);

    const std::string got = get_server_variable(&server.context, c.name);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    lua_State* L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(push_server_variable(L, &server.context, c.name), 1);
    std::size_t length = 0;
    const char* pushed = lua_tolstring(L, -1, &length);
    EXPECT_EQ(length, expected.size());
    EXPECT_TRUE(std::string(pushed, length) == expected);
    EXPECT_EQ(lua_gettop(L), 1) << "the second buffer is off the stack";
    lua_close(L);
    EXPECT_EQ(server.asked, 2 * c.asked);
    EXPECT_EQ(over, 2 * c.over_limit);
  }
  set_variable_reading({});
}

// A UNICODE_ value ends at its first zero unit, wherever it falls in the
// words the terminator is looked for in; zero bytes that straddle two units
// end nothing.
TEST(server_variable, wide_value_ends_at_its_first_zero_unit) {
  struct wide_case {
    std::string answered;  // UTF-16LE, before the server's terminator
    std::string read;
  };
  std::vector<wide_case> cases;
  for (std::size_t units = 0; units <= 9; ++units)
    cases.push_back({repeat(std::string("A\0", 2), units), std::string(units, 'A')});
  cases.push_back({std::string("\0\x01" "A\0", 4), "\xC4\x80" "A"});        // bytes 00 01 41 00
  cases.push_back({std::string("A\0B\0\0\0C\0D\0E\0", 12), "AB"});      // a zero unit inside
  for (const wide_case& c : cases) {
    SCOPED_TRACE(c.read);
    sized_server server;
    server.value = c.answered;
    server.context.ServerContext = &server;
    server.context.GetServerVariable = &sized_server::answer;
    EXPECT_TRUE(get_server_variable(&server.context, "UNICODE_URL") == c.read);
  }
}

// Several reads through one buffer, from a server that does not always write
// what it claims: no value carries bytes of one read before it.
TEST(server_variable, reads_in_a_row_see_nothing_of_the_one_before) {
  struct answer {
    const char* name;
    std::string written;  // the bytes the server puts in the buffer
    DWORD claimed;        // the size it gives back
    const char* read;
  };
  static const answer answers[] = {
      {"LONG", std::string("abcdefgh\0", 9), 9, "abcdefgh"},
      {"NO_TERMINATOR", "xy", 2, "xy"},
      {"WRITES_NOTHING", "", 5, ""},
      {"CLAIMS_MORE", std::string("pq\0rs", 5), 40, "pq"},
      {"AFTER_THE_CLAIM", "u", 1, "u"},
  };
  struct lying_server {
    static BOOL WINAPI answer(HTTP_FILTER_CONTEXT*, LPSTR name, LPVOID buffer, LPDWORD size) {
      for (const auto& a : answers)
        if (std::strcmp(name, a.name) == 0) {
          std::memcpy(buffer, a.written.data(), a.written.size());
          *size = a.claimed;
          return TRUE;
        }
      return FALSE;
    }
  };
  HTTP_FILTER_CONTEXT context{};
  context.GetServerVariable = &lying_server::answer;
  lua_State* L = luaL_newstate();
  first_read_buffer first;
  for (const auto& a : answers) {
    push_server_variable(L, &context, a.name, first);
    EXPECT_EQ(std::string(lua_tostring(L, -1)), a.read) << a.name;
  }
  lua_close(L);
}

}  // namespace
