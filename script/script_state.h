// Making and closing the Lua states that run the user script.
#pragma once

#include <cstdint>
#include <string>

struct lua_State;
namespace platform {
struct own_stack;
}

// Owns one Lua state: the main state or a pool state. One thread at a time.
struct script_state {
  lua_State* L = nullptr;
  // Where every call into L runs (state_stack.h); null: on the caller's stack.
  platform::own_stack* stack = nullptr;

  script_state() = default;
  ~script_state();  // releases the stack; L is closed by close_script_state
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
// `watched`: the time limit's hook is installed before the script runs.
script_state& open_script_state(script_state& out, const std::string& script_path,
                                bool watched = false);

// Closes the Lua state (running its finalisers) and deletes `s`.
void close_script_state(script_state* s) noexcept;
