// Making and closing the Lua states that run the user script.
#pragma once

#include <cstdint>
#include <string>

struct lua_State;
struct state_slots;
namespace platform {
struct own_stack;
}

// Owns one Lua state: the main state or a pool state. One thread at a time.
struct script_state {
  lua_State* L = nullptr;
  // Where every call into L runs (state_stack.h); null: on the caller's stack.
  platform::own_stack* stack = nullptr;
  // What L carries for the running call (state_slots.h); outlives L.
  state_slots* slots = nullptr;

  script_state() = default;
  ~script_state();  // releases the stack and slots; L is closed by close_script_state
  script_state(const script_state&) = delete;
  script_state& operator=(const script_state&) = delete;
};

// 1: no Lua state could be made (memory); 2: the script failed to load or run.
struct script_load_error {
  std::int32_t code;
};

// Fills `out` with a new state: standard libraries, lfs, the script API, and
// the script at `script_path` with its main chunk run once. Throws
// script_load_error; `out` then holds no state and nothing is left open.
// `time_limit` (milliseconds, 0: none): the time limit's hook and guards are
// installed before the script runs, and the main chunk's run (not reading and
// compiling the file) is held to it.
script_state& open_script_state(script_state& out, const std::string& script_path,
                                std::int32_t time_limit = 0);

// Closes the Lua state (running its finalisers) and deletes `s`.
void close_script_state(script_state* s) noexcept;
