// The debugger-output channel.
#pragma once

namespace platform {

// Hands one zero-terminated line to the debugger output whole, so that lines
// from different threads never mix. Silent on failure. Outside Windows it goes
// to standard error under one lock and never waits for it to take a line it
// cannot take now: that line is dropped and counted, and the count goes out
// before the next line. A line that has begun gets up to a second to finish.
void write_debug_output(const char* line) noexcept;

}  // namespace platform
