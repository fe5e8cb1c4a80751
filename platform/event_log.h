// The system's event log.
#pragma once

#include <cstdint>

namespace platform {

// Appends one entry under the source "quillharbor" with one insertion string.
// Silent on failure. Safe from any thread.
void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept;

// The local datagram socket that entries are sent to besides standard error
// (POSIX; default the system's syslog socket, null restores it), for tests.
// The path must outlive its use. Windows ignores it.
void set_event_log_socket(const char* path) noexcept;

}  // namespace platform
