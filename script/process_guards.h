// Standard functions that would act on the whole web server's process.
#pragma once

struct lua_State;

// Replaces os.exit and lfs.chdir with functions that raise an error, and
// os.setlocale with one that answers queries and refuses changes.
// Needs the os library and lfs open; [] -> [].
void install_process_guards(lua_State* L);
