// No finalizers of the script's own in states under the time limit: Lua 5.1
// runs __gc with hooks off, so a looping one would hold its thread, or lua_close
// at unload, for good. A script cannot reach a userdata's metatable: newproxy
// takes no metatable and getmetatable of a userdata gives only its __metatable
// field. The finalizers of the libraries (files, lfs objects) stay; the debug
// library can still get round this, as it can remove the hook.
#pragma once

struct lua_State;

// Replaces newproxy and getmetatable in L's globals. Raises Lua errors (memory).
void install_finalizer_guard(lua_State* L);
