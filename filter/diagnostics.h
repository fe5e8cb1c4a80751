// The filter's two diagnostic outlets: one event-log entry per load attempt and
// one debug trace line per script error or ndebug call.
#pragma once

#include <cstdint>
#include <string>

#include "quillharbor/outlets.h"

constexpr std::uint16_t event_success = 0;  // EVENTLOG_SUCCESS
constexpr std::uint16_t event_error = 1;    // EVENTLOG_ERROR_TYPE

// One entry under the source "quillharbor", its text cut past outlet_limit
// bytes. Silent on failure; any thread.
void report_event(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept;

// One line "[thread id] text\n"; the text is cut at its first NUL and past
// outlet_limit bytes. Silent on failure; any thread.
void debug_trace(const std::string& text) noexcept;

// Routes both outlets to a host's functions; null restores the platform's.
void set_outlets(quillharbor_event_outlet event, quillharbor_trace_outlet trace,
                 void* context) noexcept;
