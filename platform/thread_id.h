// Identity of the calling thread.
#pragma once

#include <cstdint>

namespace platform {

// The operating system's identifier of the calling thread.
std::uint32_t current_thread_id() noexcept;

}  // namespace platform
