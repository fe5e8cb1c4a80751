// What a script state carries for the call running in it, in place of
// thread-locals: MinGW emulates those, and a thread's first use allocates, and
// ends the process when it cannot. The slots hang off the state's allocator
// data, so any thread of the state finds them without a lookup.
#pragma once

#include <cstdint>

#include <lua.hpp>

struct request_handle;

struct state_slots {
  std::int64_t deadline = 0;  // steady milliseconds; 0: no time limit running
  bool expired = false;       // the deadline was seen passed by the hook or a guard
  request_handle* live_handle = nullptr;  // the running on_enqueue's request
  std::uint64_t live_generation = 0;
  lua_Alloc inner = nullptr;  // the allocator asked for; null: realloc and free
  void* inner_data = nullptr;
};

// A new Lua state over `slots`, which must outlive it, with the auxiliary
// library's panic message; null when memory is short. `slots.inner` (with
// `inner_data`) allocates for it when set.
lua_State* new_state_with_slots(state_slots& slots) noexcept;

// The slots of L's state; null for a state that new_state_with_slots did not make.
state_slots* slots_of(lua_State* L) noexcept;
