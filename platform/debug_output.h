// The debugger-output channel.
#pragma once

namespace platform {

// Hands one zero-terminated line to the debugger output in one system call, so
// that lines from different threads never mix. Silent on failure.
void write_debug_output(const char* line) noexcept;

}  // namespace platform
