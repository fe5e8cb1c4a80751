// The system's event log.
#pragma once

#include <cstdint>

namespace platform {

// Appends one entry under the source "quillharbor" with one insertion string.
// Silent on failure. Safe from any thread.
void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept;

}  // namespace platform
