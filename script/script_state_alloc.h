// Making a script state over a given allocator, for tests that run a state
// out of memory. The filter uses open_script_state.
#pragma once

#include <lua.hpp>
#include <string>

#include "script/script_state.h"

// As open_script_state, with `allocator` and `allocator_data` in place of the
// run-time library's realloc; they must outlive the state.
script_state& open_script_state_with_allocator(script_state& out, const std::string& script_path,
                                               lua_Alloc allocator, void* allocator_data);
