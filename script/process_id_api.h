// quillharbor_process_id(): the worker process's identifier, for scripts that
// keep one file per process when several processes run the filter at once.
#pragma once

struct lua_State;

// Sets the global quillharbor_process_id to a function returning this
// process's identifier as a number. Raises Lua errors: call it under protection.
void register_process_id(lua_State* L);
