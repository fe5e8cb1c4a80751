// string.find, match, gmatch and gsub with Lua 5.1's pattern semantics and
// error texts, for states under the time limit: the library's matcher runs in
// C, out of the count hook's reach, and a backtracking pattern can run for
// minutes. This one looks at the deadline every so many steps, raising "time
// limit exceeded", and stops its recursion where the state's stack would not
// keep stack_reserve below it ("pattern too complex for the stack").
#pragma once

struct lua_State;

// The four functions, called as the library's are (same arguments, results
// and errors). Safe in any number of states at once.
int bounded_find(lua_State* L);
int bounded_match(lua_State* L);
int bounded_gmatch(lua_State* L);
int bounded_gsub(lua_State* L);
