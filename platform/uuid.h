// New universally unique identifiers.
#pragma once

#include <cstdint>

namespace platform {

// A UUID in the field layout of the RPC run time's UUID structure.
struct uuid_fields {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// Fills `out` with a new UUID; false when the platform cannot make a globally
// unique one. Any thread.
bool create_uuid(uuid_fields& out) noexcept;

}  // namespace platform
