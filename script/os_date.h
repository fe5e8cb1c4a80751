// os.date on reentrant calendar functions.
#pragma once

struct lua_State;

// Replaces os.date with one that gives the interpreter's own results but keeps
// nothing shared between states: pool states run it on many threads at once.
// Needs the os library open; [] -> [].
void install_os_date(lua_State* L);
