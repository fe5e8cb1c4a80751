// The callback time limit: Lua code that runs too long is stopped with an error.
#pragma once

#include <cstdint>

struct lua_State;

// Installs the count hook that watches the calling thread's deadline. Once per
// state, before its script runs, so that every coroutine inherits it; a state
// without it is never stopped. The script can replace it with debug.sethook.
void watch_time(lua_State* L) noexcept;

// While it lives, Lua code in a watched state on this thread is stopped with
// the error "time limit exceeded" once it has run `milliseconds` from now. 0
// sets nothing and costs nothing. Code blocked inside a C function (a socket
// read without a timeout) is out of its reach. One per thread at a time.
class callback_deadline {
 public:
  explicit callback_deadline(std::int32_t milliseconds) noexcept;
  ~callback_deadline();
  callback_deadline(const callback_deadline&) = delete;
  callback_deadline& operator=(const callback_deadline&) = delete;

 private:
  bool set_;
};

// ---- Used by the bounded pattern matcher (stack); the time limit's owner may
// ---- replace these two with their own at merge.

// True when a deadline is set for the call running in L and has passed.
bool time_limit_passed(lua_State* L) noexcept;

// Raises "time limit exceeded" the way the hook does.
[[noreturn]] void raise_time_limit(lua_State* L);
