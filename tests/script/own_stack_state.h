// A bare state with the pattern guard, run on an own stack as the filter's are.
#pragma once

#include <lua.hpp>
#include <string>

#include "platform/own_stack.h"
#include "script/pattern_guard.h"
#include "script/state_slots.h"
#include "script/state_stack.h"

// Owns its state and stack; one thread at a time.
struct raw_state {
  raw_state() {
    luaL_openlibs(L);
    install_pattern_guard(L);
  }
  raw_state(const raw_state&) = delete;
  raw_state& operator=(const raw_state&) = delete;
  ~raw_state() {
    lua_close(L);
    platform::free_own_stack(stack);
  }
  // Runs `chunk` on the state's own stack: its first result, or its error.
  std::string run(const std::string& chunk) {
    std::string out;
    struct call {
      const std::string* chunk;
      std::string* out;
    } c{&chunk, &out};
    const int status = call_on_state_stack(L, stack, [](lua_State* S) {
      auto* c = static_cast<call*>(lua_touserdata(S, 1));
      if (luaL_loadstring(S, c->chunk->c_str()) != 0) return lua_error(S);
      lua_call(S, 0, 1);
      *c->out = lua_isstring(S, -1) ? lua_tostring(S, -1) : "";
      return 0;
    }, &c);
    if (status != 0) out = std::string("error: ") + lua_tostring(L, -1);
    lua_settop(L, 0);
    return out;
  }
  state_slots slots;  // the deadline of start_deadline
  lua_State* L = new_state_with_slots(slots);
  platform::own_stack* stack = platform::make_own_stack(state_stack_size);
};
