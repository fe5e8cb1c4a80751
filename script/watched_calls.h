// pcall, xpcall and coroutine.resume for states under the time limit. Lua 5.1
// turns hooks back on only when a hook returns; the limit's hook raises, so
// until the protected call ends nothing could stop an error handler. Here no
// handler runs once the deadline has passed, and a failed call is raised on
// instead of returned, so the limit's error reaches the callback.
#pragma once

struct lua_State;

// Replaces the three functions in L's globals. Raises Lua errors (memory).
void install_watched_calls(lua_State* L);
