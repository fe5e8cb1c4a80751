#include "script/pattern_guard.h"

#include <atomic>
#include <cstdint>
#include <lua.hpp>

#include "platform/own_stack.h"
#include "script/bounded_match.h"
#include "script/stack_reserve.h"

namespace {

// The matcher recurses for a quantifier or a capture bracket, nowhere else.
std::size_t recursion_levels(const char* p, std::size_t length) {
  std::size_t levels = 0;
  for (std::size_t i = 0; i < length; ++i) {
    switch (p[i]) {
      case '?': case '*': case '+': case '-': case '(': case ')':
        ++levels;
        break;
      default:
        break;
    }
  }
  return levels;
}

// Raises when the pattern at `index` (unchecked: the library checks it) could
// take more stack than is left.
void check_pattern(lua_State* L, int index) {
  const std::size_t left = platform::own_stack_left();
  if (left == SIZE_MAX || lua_type(L, index) != LUA_TSTRING) return;
  std::size_t length = 0;
  const char* p = lua_tolstring(L, index, &length);
  const std::size_t levels = recursion_levels(p, length);
  if (levels != 0 && (left < stack_reserve || (left - stack_reserve) / bytes_per_match_level < levels)) {
    luaL_error(L, "pattern too complex for the stack");
  }
}

// The library's own functions: one set for the process, whichever state
// installs them; kept here rather than in upvalues, where debug.getupvalue
// would hand them to the script.
enum { find, match, gmatch, gsub, functions };
std::atomic<lua_CFunction> library[functions];
std::atomic<lua_CFunction> library_gmatch_iterator{nullptr};

// A state under the time limit has its count hook: its patterns go to the
// bounded matcher, which the hook cannot stop but which looks at the clock.
bool under_time_limit(lua_State* L) {
  return lua_gethook(L) != nullptr && (lua_gethookmask(L) & LUA_MASKCOUNT) != 0;
}

int guarded_find(lua_State* L) {
  if (under_time_limit(L)) return bounded_find(L);
  if (!lua_toboolean(L, 4)) check_pattern(L, 2);  // plain finds do not match patterns
  return library[find].load(std::memory_order_relaxed)(L);
}

int guarded_match(lua_State* L) {
  if (under_time_limit(L)) return bounded_match(L);
  check_pattern(L, 2);
  return library[match].load(std::memory_order_relaxed)(L);
}

int guarded_gsub(lua_State* L) {
  if (under_time_limit(L)) return bounded_gsub(L);
  check_pattern(L, 2);
  return library[gsub].load(std::memory_order_relaxed)(L);
}

// Upvalues as the library's iterator has them: subject, pattern, position.
// It runs later, wherever the loop is, so it checks on every call.
int guarded_gmatch_iterator(lua_State* L) {
  check_pattern(L, lua_upvalueindex(2));
  return library_gmatch_iterator.load(std::memory_order_relaxed)(L);
}

// [s, p] -> [s, p, iterator]
int guarded_gmatch(lua_State* L) {
  if (under_time_limit(L)) return bounded_gmatch(L);
  library[gmatch].load(std::memory_order_relaxed)(L);
  library_gmatch_iterator.store(lua_tocfunction(L, -1), std::memory_order_relaxed);
  for (int i = 1; i <= 3; ++i) lua_getupvalue(L, -i, i);
  lua_pushcclosure(L, guarded_gmatch_iterator, 3);
  lua_replace(L, -2);
  return 1;
}

// [string] -> [string]
void guard(lua_State* L, const char* name, int which, lua_CFunction guarded) {
  lua_getfield(L, -1, name);
  const lua_CFunction original = lua_tocfunction(L, -1);
  lua_pop(L, 1);
  if (original == nullptr) return;
  library[which].store(original, std::memory_order_relaxed);
  lua_pushcfunction(L, guarded);
  lua_setfield(L, -2, name);
}

}  // namespace

void install_pattern_guard(lua_State* L) {
  lua_getfield(L, LUA_GLOBALSINDEX, "string");
  guard(L, "find", find, guarded_find);
  guard(L, "match", match, guarded_match);
  guard(L, "gsub", gsub, guarded_gsub);
  guard(L, "gmatch", gmatch, guarded_gmatch);
  lua_getfield(L, -1, "gfind");  // the old name of gmatch, when the build keeps it
  const bool gfind_is_gmatch = lua_tocfunction(L, -1) == library[gmatch].load(std::memory_order_relaxed);
  lua_pop(L, 1);
  if (gfind_is_gmatch) {
    lua_pushcfunction(L, guarded_gmatch);
    lua_setfield(L, -2, "gfind");
  }
  lua_pop(L, 1);
}
