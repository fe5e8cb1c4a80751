// Every call into a script state runs on a stack that belongs to the state,
// so what a script can do to the C stack does not depend on the thread that
// calls it (request threads of a web server may have 256 KiB).
#pragma once

#include <cstddef>

struct lua_State;
using lua_CFunction = int (*)(lua_State*);

namespace platform {
struct own_stack;
}

// Lua bounds nested C calls at 200 (225 for error handlers); the deepest of
// them (gsub calling back into Lua) take about 9 KiB each. 8 MiB holds that
// three times over; long patterns take the rest, and pattern_guard keeps all
// that nested calls may still take below any match (stack_reserve.h).
constexpr std::size_t state_stack_size = 8 * 1024 * 1024;

// lua_cpcall(L, f, ud) run on `stack` (on the caller's stack when null): the
// same status and the same effect on L's stack.
int call_on_state_stack(lua_State* L, platform::own_stack* stack, lua_CFunction f, void* ud) noexcept;

// lua_close(L) run on `stack`: closing runs the script's finalisers.
void close_on_state_stack(lua_State* L, platform::own_stack* stack) noexcept;
