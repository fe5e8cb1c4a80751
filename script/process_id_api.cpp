#include "script/process_id_api.h"

#include <lua.hpp>

#include "platform/process_id.h"

namespace {

// [] -> [number]; arguments are ignored, as uuid() ignores them.
int quillharbor_process_id(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(platform::current_process_id()));
  return 1;
}

}  // namespace

void register_process_id(lua_State* L) {
  lua_pushcfunction(L, quillharbor_process_id);
  lua_setfield(L, LUA_GLOBALSINDEX, "quillharbor_process_id");
}
