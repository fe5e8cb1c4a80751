#include "script/watched_calls.h"

#include <lua.hpp>

#include "script/time_limit.h"

namespace {

// As the base library's pcall.
int watched_pcall(lua_State* L) {
  luaL_checkany(L, 1);
  const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
  if (status != 0 && time_limit_passed(L)) raise_time_limit(L);
  lua_pushboolean(L, status == 0);
  lua_insert(L, 1);
  return lua_gettop(L);
}

// The script's handler (upvalue 1) between the error and the unwinding: it
// would run with hooks off after the limit's error, so then it does not run.
// [error] -> [error or the handler's result]
int watched_handler(lua_State* L) {
  if (time_limit_passed(L)) return 1;
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, 1);
  return 1;
}

// As the base library's xpcall.
int watched_xpcall(lua_State* L) {
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_pushcclosure(L, watched_handler, 1);
  lua_insert(L, 1);  // [handler, f]
  const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
  if (status != 0 && time_limit_passed(L)) raise_time_limit(L);
  lua_pushboolean(L, status == 0);
  lua_replace(L, 1);
  return lua_gettop(L);
}

// The library's coroutine.resume (upvalue 1); a coroutine stopped by the limit
// stops its resumer too.
int watched_resume(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  if (!lua_toboolean(L, 1) && time_limit_passed(L)) raise_time_limit(L);
  return lua_gettop(L);
}

}  // namespace

void install_watched_calls(lua_State* L) {
  lua_pushcfunction(L, watched_pcall);
  lua_setfield(L, LUA_GLOBALSINDEX, "pcall");
  lua_pushcfunction(L, watched_xpcall);
  lua_setfield(L, LUA_GLOBALSINDEX, "xpcall");
  lua_getfield(L, LUA_GLOBALSINDEX, "coroutine");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "resume");
    lua_pushcclosure(L, watched_resume, 1);
    lua_setfield(L, -2, "resume");
  }
  lua_pop(L, 1);
}
