// The trace file: every trace line and event text, also appended to a file of
// the administrator's choosing, one stamped line each, rotated at a size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/append_file.h"

// The event that says the trace file cannot be opened or is lost; not a load failure.
constexpr std::uint32_t event_trace_file = 20;

// Opens `path` for appending, closing any file held before; from `max_size`
// bytes on (0: never), and before a line that would pass the process's
// file-size limit, the file is renamed to path + ".1", replacing an older
// one, and a new file started. False when it cannot be opened. Load only.
bool open_trace_file(const std::string& path, std::int64_t max_size) noexcept;

// The same on `file`, which the caller owns and keeps until close_trace_file
// (not kept when this returns false);
// a refused rename or a file that cannot be created again is tried again
// after `retry_after` milliseconds, the lines in between dropped and counted.
bool open_trace_file_on(platform::append_target& file, const std::string& path,
                        std::int64_t max_size, std::int64_t retry_after) noexcept;

// Closes the file; later lines go nowhere. Load and unload only.
void close_trace_file() noexcept;

// Appends "<UTC time> [<thread id>] <text>\n", the text cut at its first NUL and
// at a few KiB as the outlets cut it, its line breaks made spaces. Lines stay
// whole under any number of threads and any failure of the disk: a line that
// cannot be had within a moment, or cannot be written whole, is dropped and
// counted, and the next line written is preceded by "N trace lines lost". The
// first line that finds the file gone says so once on both outlets. Nothing
// when no file is open. Never fails its caller. Any thread.
void append_trace_file(std::string_view text) noexcept;

// Writes the pending "N trace lines lost" note if the file takes it now;
// returns the lines whose loss is still unwritten. Unload, before closing.
std::uint64_t settle_trace_losses() noexcept;

// The same for an event: "event <identifier> <success|error>: <text>".
void append_trace_event(bool success, std::uint32_t identifier, const char* text) noexcept;

// "2026-12-08T20:01:02.345Z" for milliseconds since 1970-01-01T00:00:00Z.
std::string utc_stamp(std::int64_t milliseconds);
