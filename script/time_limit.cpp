#include "script/time_limit.h"

#include <lua.hpp>

#include "platform/clock.h"

namespace {

// Instructions between two looks at the clock: a look costs about as much as
// a few hundred instructions do.
constexpr int instructions_per_look = 1000;

// The steady time at which this thread's callback is stopped; 0 when none runs.
thread_local std::int64_t deadline = 0;

void look_at_clock(lua_State* L, lua_Debug*) {
  const std::int64_t until = deadline;
  if (until == 0 || platform::steady_milliseconds() < until) {
    // Back to the usual spacing after a stop (below).
    if (lua_gethookcount(L) != instructions_per_look)
      lua_sethook(L, look_at_clock, LUA_MASKCOUNT, instructions_per_look);
    return;
  }
  // From now on every instruction raises, so that a script that catches the
  // error with pcall in a loop is stopped all the same.
  lua_sethook(L, look_at_clock, LUA_MASKCOUNT, 1);
  // Level 0: a hook has no frame of its own, so that is the running function.
  luaL_where(L, 0);
  lua_pushliteral(L, "time limit exceeded");
  lua_concat(L, 2);
  lua_error(L);
}

}  // namespace

void watch_time(lua_State* L) noexcept { lua_sethook(L, look_at_clock, LUA_MASKCOUNT, instructions_per_look); }

callback_deadline::callback_deadline(std::int32_t milliseconds) noexcept : set_(milliseconds > 0) {
  if (set_) deadline = platform::steady_milliseconds() + milliseconds;
}

callback_deadline::~callback_deadline() {
  if (set_) deadline = 0;
}

// ---- Used by the bounded pattern matcher (stack); the time limit's owner may
// ---- replace these two with their own at merge.

bool time_limit_passed(lua_State*) noexcept {
  const std::int64_t until = deadline;
  return until != 0 && platform::steady_milliseconds() >= until;
}

void raise_time_limit(lua_State* L) {
  lua_sethook(L, look_at_clock, LUA_MASKCOUNT, 1);
  luaL_where(L, 1);  // the Lua code that called the matcher
  lua_pushliteral(L, "time limit exceeded");
  lua_concat(L, 2);
  lua_error(L);
  __builtin_unreachable();
}
