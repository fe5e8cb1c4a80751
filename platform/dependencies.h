// The libraries the module is linked against, made loadable before first use.
#pragma once

namespace platform {

// Makes the Lua interpreter's library available to the module. On Windows the
// module imports lua51.dll only at its first Lua call, and a web server process
// searches its own directory for DLLs, not the filter's: this loads it from the
// module's own directory first, then by the system's search. Returns nullptr
// when it is there, else the name of the library that could not be loaded; no
// Lua function may then be called. Loading thread only; never throws.
const char* load_dependencies() noexcept;

}  // namespace platform
