// quillharbor_counters(): the filter's counters, for the script's main state.
#pragma once

struct lua_State;
class filter_counters;

// Sets the global quillharbor_counters (raw, past any metatable of the globals)
// to a function returning a new table of the counters. `counters` must outlive the state. Raises Lua errors: call it
// under protection.
void register_counters(lua_State* L, const filter_counters* counters);
