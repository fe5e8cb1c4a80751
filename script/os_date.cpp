#include "script/os_date.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <lua.hpp>

#include "platform/calendar_time.h"

namespace {

// As the interpreter's (time_t) cast of a double on x86-64: a value out of
// range or NaN becomes the lowest time, which has no calendar form.
std::int64_t to_time(lua_Number n) {
  if (n >= -9223372036854775808.0 && n < 9223372036854775808.0) return static_cast<std::int64_t>(n);
  return INT64_MIN;
}

void set_field(lua_State* L, const char* key, int value) {
  lua_pushinteger(L, value);
  lua_setfield(L, -2, key);
}

// [table] -> [table]
void push_fields(lua_State* L, const std::tm& tm) {
  lua_createtable(L, 0, 9);
  set_field(L, "sec", tm.tm_sec);
  set_field(L, "min", tm.tm_min);
  set_field(L, "hour", tm.tm_hour);
  set_field(L, "day", tm.tm_mday);
  set_field(L, "month", tm.tm_mon + 1);
  set_field(L, "year", tm.tm_year + 1900);
  set_field(L, "wday", tm.tm_wday + 1);
  set_field(L, "yday", tm.tm_yday + 1);
  if (tm.tm_isdst >= 0) {  // negative: unknown, and the field stays unset
    lua_pushboolean(L, tm.tm_isdst);
    lua_setfield(L, -2, "isdst");
  }
}

// One strftime per conversion into a 200-byte buffer: a result that does not
// fit adds nothing, as in the interpreter.
void push_formatted(lua_State* L, const char* s, const std::tm& tm) {
  char conversion[3] = {'%', '\0', '\0'};
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (; *s; s++) {
    if (*s != '%' || *(s + 1) == '\0') {
      luaL_addchar(&b, *s);
    } else {
      char out[200];
      conversion[1] = *(++s);
      luaL_addlstring(&b, out, std::strftime(out, sizeof out, conversion, &tm));
    }
  }
  luaL_pushresult(&b);
}

// os.date([format [, time]])
int os_date(lua_State* L) {
  const char* s = luaL_optstring(L, 1, "%c");
  const std::int64_t t =
      lua_isnoneornil(L, 2) ? static_cast<std::int64_t>(std::time(nullptr)) : to_time(luaL_checknumber(L, 2));
  const bool utc = *s == '!';
  if (utc) s++;
  std::tm tm{};
  if (!platform::calendar_time(t, utc, tm)) {
    lua_pushnil(L);
  } else if (std::strcmp(s, "*t") == 0) {
    push_fields(L, tm);
  } else {
    push_formatted(L, s, tm);
  }
  return 1;
}

}  // namespace

void install_os_date(lua_State* L) {
  lua_getfield(L, LUA_GLOBALSINDEX, "os");
  lua_pushcfunction(L, os_date);
  lua_setfield(L, -2, "date");
  lua_pop(L, 1);
}
