// The callback time limit: Lua code that runs too long is stopped with an error.
#pragma once

#include <cstdint>

struct lua_State;
struct script_state;

// Installs the count hook that watches the state's deadline, and the guards
// that keep its error from being caught into code the hook cannot stop
// (watched_calls.h, finalizer_guard.h). Once per state, before its script
// runs, so that every coroutine inherits it; a state without it is never
// stopped. The script can replace the hook with debug.sethook. Raises Lua
// errors (memory): call it under protection.
void watch_time(lua_State* L);

// True when a deadline is set for the call running in L and has passed. Any
// thread of L's state; costs a clock read only while a deadline is set.
bool time_limit_passed(lua_State* L) noexcept;

// Raises "time limit exceeded" (with the calling Lua function's position) as
// the hook does: from here on every instruction of L raises again, and no
// handler of a watched state runs for it. From a C function running in L.
[[noreturn]] void raise_time_limit(lua_State* L);

// Starts and ends the deadline of the call about to run in L: `milliseconds`
// from now; 0 sets nothing. For code that cannot hold a callback_deadline
// (a native function that Lua may leave by an error).
void start_deadline(lua_State* L, std::int32_t milliseconds) noexcept;
void end_deadline(lua_State* L) noexcept;

// While it lives, Lua code in `state` is stopped with the error "time limit
// exceeded" once it has run `milliseconds` from now. 0 or a null state sets
// nothing and costs nothing. Code blocked inside a C function (a socket read
// without a timeout) is out of its reach. One per state at a time; the
// deadline is the state's, so it holds whichever thread runs the state.
class callback_deadline {
 public:
  callback_deadline(script_state* state, std::int32_t milliseconds) noexcept;
  ~callback_deadline();
  callback_deadline(const callback_deadline&) = delete;
  callback_deadline& operator=(const callback_deadline&) = delete;

 private:
  lua_State* L_;
};
