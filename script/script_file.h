// Loading the user script from its file.
#pragma once

struct lua_State;

// Pushes the script at `path` (UTF-8) as a function, with luaL_loadfile's
// results: the same status and message, the chunk name "@" and the path, a
// first line that starts with '#' skipped but counted, a precompiled chunk
// accepted. Only a regular file is read. May raise a memory error: call it
// under protection.
int load_script_file(lua_State* L, const char* path);
