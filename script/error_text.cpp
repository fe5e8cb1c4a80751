#include "script/error_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "filter/text_cut.h"

namespace {

// Whole numbers of up to 14 digits come out of "%.14g" as their plain digits.
// Status codes and byte counts are such numbers; they skip the formatter.
bool is_short_whole(lua_Number n) noexcept {
  return n > -1e14 && n < 1e14 && n == static_cast<lua_Number>(static_cast<long long>(n)) &&
         !(n == 0 && std::signbit(n));
}

std::size_t whole_text(long long n, char (&out)[number_text_size]) noexcept {
  char digits[number_text_size];
  std::size_t count = 0;
  unsigned long long rest = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  do {
    digits[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  std::size_t length = 0;
  if (n < 0) out[length++] = '-';
  while (count != 0) out[length++] = digits[--count];
  out[length] = '\0';
  return length;
}

}  // namespace

std::size_t number_text(lua_Number n, char (&out)[number_text_size]) noexcept {
  if (is_short_whole(n)) return whole_text(static_cast<long long>(n), out);
  const int length = std::snprintf(out, sizeof out, LUA_NUMBER_FMT, n);
  return length < 0 ? 0 : std::strlen(out);
}

std::string_view plain_text_view(lua_State* L, int index, char (&buffer)[number_text_size]) noexcept {
  if (lua_type(L, index) == LUA_TNUMBER) return {buffer, number_text(lua_tonumber(L, index), buffer)};
  // A string needs no conversion, so lua_tolstring allocates nothing here.
  std::size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  if (text == nullptr) return {};
  const std::string_view whole(text, length);
  return whole.substr(0, whole.find('\0'));
}

std::string plain_text(lua_State* L, int index) {
  char buffer[number_text_size];
  return std::string(plain_text_view(L, index, buffer));
}

std::string error_value_text(lua_State* L, int index) {
  const int type = lua_type(L, index);
  char buffer[number_text_size];
  // A script's message may be of any size: only its head is copied out.
  if (type == LUA_TSTRING || type == LUA_TNUMBER) return cut_text(plain_text_view(L, index, buffer));
  return std::string("(error object is a ") + lua_typename(L, type) + " value)";
}
