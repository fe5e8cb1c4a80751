#include "script/process_guards.h"

#include <clocale>
#include <lua.hpp>

namespace {

int refuse_exit(lua_State* L) {
  return luaL_error(L, "os.exit is not available inside the filter");
}

int refuse_chdir(lua_State* L) {
  return luaL_error(L, "lfs.chdir is not available inside the filter");
}

// os.setlocale([locale [, category]]): the locale belongs to every thread of
// the process, so only a query (no locale, or nil) is answered.
int query_locale(lua_State* L) {
  static const int categories[] = {LC_ALL, LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC, LC_TIME};
  static const char* const names[] = {"all", "collate", "ctype", "monetary", "numeric", "time", nullptr};
  const char* locale = luaL_optstring(L, 1, nullptr);
  const int category = luaL_checkoption(L, 2, "all", names);
  if (locale != nullptr) {
    return luaL_error(L, "os.setlocale can only query the locale inside the filter");
  }
  lua_pushstring(L, std::setlocale(categories[category], nullptr));
  return 1;
}

// [] -> []
void replace(lua_State* L, const char* table, const char* name, lua_CFunction f) {
  lua_getfield(L, LUA_GLOBALSINDEX, table);
  lua_pushcfunction(L, f);
  lua_setfield(L, -2, name);
  lua_pop(L, 1);
}

}  // namespace

void install_process_guards(lua_State* L) {
  replace(L, "os", "exit", refuse_exit);
  replace(L, "os", "setlocale", query_locale);
  replace(L, "lfs", "chdir", refuse_chdir);
}
