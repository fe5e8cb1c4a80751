// The trace file: every trace line and event text, also appended to a file of
// the administrator's choosing, one stamped line each, rotated at a size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Opens `path` for appending, closing any file held before; from `max_size`
// bytes on (0: never) the file is renamed to path + ".1", replacing an older
// one, and a new file started. False when it cannot be opened. Load only.
bool open_trace_file(const std::string& path, std::int64_t max_size) noexcept;

// Closes the file; later lines go nowhere. Load and unload only.
void close_trace_file() noexcept;

// Appends "<UTC time> [<thread id>] <text>\n", the text cut at its first NUL and
// at a few KiB as the outlets cut it, its line breaks made spaces. Lines stay whole under any number of threads; a
// writer that cannot have the file within a moment drops its line. Nothing when
// no file is open. Never fails its caller. Any thread.
void append_trace_file(std::string_view text) noexcept;

// The same for an event: "event <identifier> <success|error>: <text>".
void append_trace_event(bool success, std::uint32_t identifier, const char* text) noexcept;

// "2026-12-08T20:01:02.345Z" for milliseconds since 1970-01-01T00:00:00Z.
std::string utc_stamp(std::int64_t milliseconds);
