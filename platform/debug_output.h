// The debugger-output channel.
#pragma once

#include <cstddef>

namespace platform {

// Hands one zero-terminated line to the debugger output whole, so that lines
// from different threads never mix. Silent on failure; any thread.
// On Windows, while the output thread runs (start_debug_output), the line is
// queued for it and the caller never waits; a line that finds the queue full
// is dropped and counted, and the count goes out as "N trace lines dropped"
// where the lines were lost. Before the first start lines go out directly;
// after a stop, or when the thread could not start, they are dropped, since
// no caller may then wait for a listener.
// Elsewhere it goes to standard error under one lock and never waits for it
// to take a line it cannot take now: that line is dropped and counted, and the
// count goes out before the next line. A line that has begun gets up to a
// second to finish.
void write_debug_output(const char* line) noexcept;

// Starts the thread that hands the queued lines on (Windows; nothing
// elsewhere). Counted: each start needs its stop, and only the first starts a
// thread. Loading thread only, never with a stop at the same time.
void start_debug_output() noexcept;

// Gives back one start; the last ends the thread once every line queued before
// has gone out, waiting for that at most debug_output_stop_milliseconds. A
// thread still held by a listener then drops what is left and ends on its own,
// keeping the module loaded until it has. Unloading thread only.
void stop_debug_output() noexcept;

constexpr std::size_t debug_output_queue_lines = 256;
constexpr std::size_t debug_output_queue_bytes = 1 << 20;
constexpr unsigned debug_output_stop_milliseconds = 1000;

}  // namespace platform
