#include "script/counters_api.h"

#include <lua.hpp>

#include "filter/counters.h"

namespace {

void set_number(lua_State* L, const char* name, std::uint64_t value) {
  lua_pushnumber(L, static_cast<lua_Number>(value));
  lua_setfield(L, -2, name);
}

// [] -> [table]
int quillharbor_counters(lua_State* L) {
  const auto* counters = static_cast<const filter_counters*>(lua_touserdata(L, lua_upvalueindex(1)));
  const counter_values values = counters->read();
  lua_createtable(L, 0, 8);
  set_number(L, "queued", values.queued);
  set_number(L, "dequeued", values.dequeued);
  set_number(L, "dropped_by_limit", values.dropped_by_limit);
  set_number(L, "dropped_at_unload", values.dropped_at_unload);
  set_number(L, "enqueue_failures", values.enqueue_failures);
  set_number(L, "dequeue_failures", values.dequeue_failures);
  set_number(L, "deepest", values.deepest);
  set_number(L, "over_variable_limit", values.over_variable_limit);
  return 1;
}

}  // namespace

void register_counters(lua_State* L, const filter_counters* counters) {
  lua_pushliteral(L, "quillharbor_counters");
  lua_pushlightuserdata(L, const_cast<filter_counters*>(counters));
  lua_pushcclosure(L, quillharbor_counters, 1);
  // Raw: a script that guards its globals with a metatable must not see it.
  lua_rawset(L, LUA_GLOBALSINDEX);
}
