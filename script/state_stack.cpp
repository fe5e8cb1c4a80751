#include "script/state_stack.h"

#include <lua.hpp>

#include "platform/own_stack.h"

namespace {

struct protected_call {
  lua_State* L;
  lua_CFunction f;
  void* ud;
  int status;
};

void run_protected(void* argument) noexcept {
  auto* call = static_cast<protected_call*>(argument);
  call->status = lua_cpcall(call->L, call->f, call->ud);
}

void run_close(void* L) noexcept { lua_close(static_cast<lua_State*>(L)); }

}  // namespace

int call_on_state_stack(lua_State* L, platform::own_stack* stack, lua_CFunction f, void* ud) noexcept {
  protected_call call{L, f, ud, 0};
  platform::run_on_own_stack(stack, run_protected, &call);
  return call.status;
}

void close_on_state_stack(lua_State* L, platform::own_stack* stack) noexcept {
  platform::run_on_own_stack(stack, run_close, L);
}
