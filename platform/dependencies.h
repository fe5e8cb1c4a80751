// The libraries the module is linked against, made loadable before first use.
#pragma once

namespace platform {

// Makes the Lua interpreter's library available to the module. On Windows the
// module imports lua51.dll only at its first Lua call, and a web server process
// searches its own directory for DLLs, not the filter's: this takes the one the
// process holds already, else loads it from the module's own directory, else
// from the application's and the system folders (never the current directory
// or PATH), and takes it only when it has every function the module calls.
// Returns nullptr when it is there, else what failed: the library's name, or
// the name and the first function it lacks; no Lua function may then be
// called. Loading thread only; never throws.
const char* load_dependencies() noexcept;

}  // namespace platform
