#include "platform/uuid.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <rpc.h>

namespace platform {

// RPC_S_UUID_LOCAL_ONLY is refused too: such a UUID is unique on this computer only.
bool create_uuid(uuid_fields& out) noexcept {
  UUID id;
  if (::UuidCreate(&id) != RPC_S_OK) return false;
  out.data1 = static_cast<std::uint32_t>(id.Data1);
  out.data2 = static_cast<std::uint16_t>(id.Data2);
  out.data3 = static_cast<std::uint16_t>(id.Data3);
  for (int i = 0; i < 8; ++i) out.data4[i] = static_cast<std::uint8_t>(id.Data4[i]);
  return true;
}

}  // namespace platform
