#include "script/finalizer_guard.h"

#include <lua.hpp>

namespace {

// newproxy() and newproxy(false): a userdata without a metatable.
int plain_newproxy(lua_State* L) {
  if (lua_toboolean(L, 1))
    return luaL_error(L, "newproxy with a metatable is not available under time_limit");
  lua_newuserdata(L, 0);
  return 1;
}

// As the base library's getmetatable, but a userdata's metatable stays hidden.
int guarded_getmetatable(lua_State* L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) {
    lua_pushnil(L);
    return 1;
  }
  if (luaL_getmetafield(L, 1, "__metatable")) return 1;
  if (lua_type(L, 1) == LUA_TUSERDATA) lua_pushnil(L);
  return 1;
}

}  // namespace

void install_finalizer_guard(lua_State* L) {
  lua_pushcfunction(L, plain_newproxy);
  lua_setfield(L, LUA_GLOBALSINDEX, "newproxy");
  lua_pushcfunction(L, guarded_getmetatable);
  lua_setfield(L, LUA_GLOBALSINDEX, "getmetatable");
}
