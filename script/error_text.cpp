#include "script/error_text.h"

#include <cstdio>
#include <cstring>

std::size_t number_text(lua_Number n, char (&out)[number_text_size]) noexcept {
  const int length = std::snprintf(out, sizeof out, LUA_NUMBER_FMT, n);
  return length < 0 ? 0 : std::strlen(out);
}

std::string plain_text(lua_State* L, int index) {
  if (lua_type(L, index) == LUA_TNUMBER) {
    char text[number_text_size];
    const std::size_t length = number_text(lua_tonumber(L, index), text);
    return std::string(text, length);
  }
  // A string needs no conversion, so lua_tostring allocates nothing here.
  const char* text = lua_tostring(L, index);
  return text != nullptr ? std::string(text) : std::string();
}

std::string error_value_text(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type == LUA_TSTRING || type == LUA_TNUMBER) return plain_text(L, index);
  return std::string("(error object is a ") + lua_typename(L, type) + " value)";
}
