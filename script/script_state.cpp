#include "script/script_state.h"

#include <cstring>
#include <new>

#include <lua.hpp>
// After lua.hpp: it declares luaopen_lfs with lua_State and no includes of its own.
#include <lfs.h>

#include "platform/own_stack.h"
#include "script/os_date.h"
#include "script/pattern_guard.h"
#include "script/process_guards.h"
#include "script/script_api.h"
#include "script/script_file.h"
#include "script/script_state_alloc.h"
#include "script/state_slots.h"
#include "script/state_stack.h"
#include "script/time_limit.h"

// Setup, loading and the main chunk each run under lua_cpcall: any of them
// can run out of memory, and an error outside protection would end the process.

namespace {

// Opens LuaFileSystem as its own luaopen_lfs does, and enters it in
// package.loaded so that require "lfs" returns the same table.
void open_lfs(lua_State* L) {
  lua_pushcfunction(L, luaopen_lfs);
  lua_pushstring(L, "lfs");
  lua_call(L, 1, 1);
  lua_getfield(L, LUA_GLOBALSINDEX, "package");
  lua_getfield(L, -1, "loaded");
  lua_pushvalue(L, -3);
  lua_setfield(L, -2, "lfs");
  lua_pop(L, 3);
}

struct opening {
  const char* path;
  std::int32_t time_limit;
};

// [opening] -> [opening]
int set_up(lua_State* L) {
  const auto* how = static_cast<const opening*>(lua_touserdata(L, 1));
  luaL_openlibs(L);
  open_lfs(L);
  install_os_date(L);
  install_process_guards(L);
  install_pattern_guard(L);
  register_script_api(L);
  // Before the main chunk, so that its coroutines inherit the hook.
  if (how->time_limit > 0) watch_time(L);
  return 0;
}

// [opening] -> [opening]; the caller ends the deadline.
int load_and_run(lua_State* L) {
  const auto* how = static_cast<const opening*>(lua_touserdata(L, 1));
  if (load_script_file(L, how->path) != 0) return lua_error(L);
  start_deadline(L, how->time_limit);
  lua_call(L, 0, 0);
  return 0;
}

// Removes the finaliser from the io library's file metatable, if it exists.
// A memory error inside luaopen_io can leave the userdata of stdin, stdout or
// stderr with the closing function of ordinary files, and lua_close would then
// fclose the process's own standard files. Only a walk with lua_next and a
// raw set of an existing key: nothing allocates, so nothing can raise here
// outside protection.
void drop_file_finaliser(lua_State* L) {
  lua_pushnil(L);
  while (lua_next(L, LUA_REGISTRYINDEX) != 0) {
    // [key, value]
    if (lua_type(L, -2) == LUA_TSTRING && std::strcmp(lua_tostring(L, -2), LUA_FILEHANDLE) == 0 &&
        lua_istable(L, -1)) {
      lua_pushnil(L);
      while (lua_next(L, -2) != 0) {
        // [key, metatable, field, value]
        lua_pop(L, 1);
        if (lua_type(L, -1) == LUA_TSTRING && std::strcmp(lua_tostring(L, -1), "__gc") == 0) {
          lua_pushvalue(L, -1);
          lua_pushnil(L);
          lua_rawset(L, -4);
        }
      }
    }
    lua_pop(L, 1);
  }
  lua_settop(L, 0);
}

// Makes the state over `slots`, which `out` owns from here on.
script_state& fill(script_state& out, state_slots* slots, const std::string& script_path,
                   std::int32_t time_limit) {
  delete out.slots;
  out.slots = slots;
  lua_State* L = slots != nullptr ? new_state_with_slots(*slots) : nullptr;
  if (L == nullptr) throw script_load_error{1};
  opening how{script_path.c_str(), time_limit};
  platform::own_stack* const stack = platform::make_own_stack(state_stack_size);
  if (stack == nullptr || call_on_state_stack(L, stack, set_up, &how) != 0) {
    // No script has run: the only files are the standard ones.
    drop_file_finaliser(L);
    lua_close(L);
    platform::free_own_stack(stack);
    throw script_load_error{1};
  }
  const int status = call_on_state_stack(L, stack, load_and_run, &how);
  end_deadline(L);
  if (status != 0) {
    close_on_state_stack(L, stack);
    platform::free_own_stack(stack);
    throw script_load_error{2};
  }
  platform::free_own_stack(out.stack);
  out.stack = stack;
  out.L = L;
  return out;
}

}  // namespace

script_state& open_script_state(script_state& out, const std::string& script_path,
                                std::int32_t time_limit) {
  out.L = nullptr;
  return fill(out, new (std::nothrow) state_slots, script_path, time_limit);
}

script_state& open_script_state_with_allocator(script_state& out, const std::string& script_path,
                                               lua_Alloc allocator, void* allocator_data) {
  out.L = nullptr;
  auto* slots = new (std::nothrow) state_slots;
  if (slots != nullptr) {
    slots->inner = allocator;
    slots->inner_data = allocator_data;
  }
  return fill(out, slots, script_path, 0);
}

script_state::~script_state() {
  platform::free_own_stack(stack);
  delete slots;
}

void close_script_state(script_state* s) noexcept {
  if (s == nullptr) return;
  if (s->L != nullptr) close_on_state_stack(s->L, s->stack);
  delete s;
}
