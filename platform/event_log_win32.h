// Windows only: how event identifiers meet the module's message table.
#pragma once

#include <cstdint>

namespace platform {

// The identifier as the entry is written and the message table files it: with
// the severity bits of its event type (success 0, information 1, warning 2,
// error 3, in the top two bits) unless it carries its own. Any thread.
std::uint32_t message_identifier(std::uint16_t type, std::uint32_t identifier) noexcept;

}  // namespace platform
