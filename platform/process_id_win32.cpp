#include "platform/process_id.h"

#include <windows.h>

namespace platform {

std::uint32_t current_process_id() noexcept { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

}  // namespace platform
