// Whether a standard stream is an interactive terminal.
#pragma once

namespace platform {

enum class standard_stream { output, error };

// True when the stream is attached to a terminal (a console on Windows).
bool is_terminal(standard_stream stream) noexcept;

}  // namespace platform
