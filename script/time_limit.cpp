#include "script/time_limit.h"

#include <lua.hpp>

#include "platform/clock.h"
#include "script/finalizer_guard.h"
#include "script/script_state.h"
#include "script/state_slots.h"
#include "script/watched_calls.h"

namespace {

// Instructions between two looks at the clock: a look costs about as much as
// a few hundred instructions do.
constexpr int instructions_per_look = 1000;

bool passed(state_slots* slots) noexcept {
  if (slots == nullptr || slots->deadline == 0) return false;
  if (!slots->expired && platform::steady_milliseconds() >= slots->deadline) slots->expired = true;
  return slots->expired;
}

void look_at_clock(lua_State* L, lua_Debug*);

// `level` 0 from the hook (it has no frame of its own, so that is the running
// function), 1 from a native function (its Lua caller).
[[noreturn]] void raise_at(lua_State* L, int level) {
  if (state_slots* slots = slots_of(L)) slots->expired = true;
  // From now on every instruction raises, so that a script that catches the
  // error with pcall in a loop is stopped all the same.
  lua_sethook(L, look_at_clock, LUA_MASKCOUNT, 1);
  luaL_where(L, level);
  lua_pushliteral(L, "time limit exceeded");
  lua_concat(L, 2);
  lua_error(L);
  __builtin_unreachable();
}

void look_at_clock(lua_State* L, lua_Debug*) {
  if (passed(slots_of(L))) raise_at(L, 0);
  // Back to the usual spacing after a stop (above).
  if (lua_gethookcount(L) != instructions_per_look)
    lua_sethook(L, look_at_clock, LUA_MASKCOUNT, instructions_per_look);
}

}  // namespace

void watch_time(lua_State* L) {
  lua_sethook(L, look_at_clock, LUA_MASKCOUNT, instructions_per_look);
  install_watched_calls(L);
  install_finalizer_guard(L);
}

bool time_limit_passed(lua_State* L) noexcept { return passed(slots_of(L)); }

void raise_time_limit(lua_State* L) { raise_at(L, 1); }

void start_deadline(lua_State* L, std::int32_t milliseconds) noexcept {
  state_slots* slots = milliseconds > 0 ? slots_of(L) : nullptr;
  if (slots == nullptr) return;
  slots->deadline = platform::steady_milliseconds() + milliseconds;
  slots->expired = false;
}

void end_deadline(lua_State* L) noexcept {
  if (state_slots* slots = slots_of(L)) {
    slots->deadline = 0;
    slots->expired = false;
  }
}

callback_deadline::callback_deadline(script_state* state, std::int32_t milliseconds) noexcept
    : L_(state != nullptr && milliseconds > 0 ? state->L : nullptr) {
  if (L_ != nullptr) start_deadline(L_, milliseconds);
}

callback_deadline::~callback_deadline() {
  if (L_ != nullptr) end_deadline(L_);
}
