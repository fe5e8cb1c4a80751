// Lua 5.1's pattern matcher recurses once per pattern item without a bound.
#pragma once

struct lua_State;

// Replaces string.find, match, gmatch, gfind and gsub (which strings reach
// through their metatable too) with versions that raise "pattern too complex
// for the stack" where the matcher would run out of stack, and that use the
// bounded matcher (bounded_match.h) in a state under the time limit. Needs the
// string library open; [] -> [].
void install_pattern_guard(lua_State* L);
