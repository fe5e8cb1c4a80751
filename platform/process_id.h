// Identity of the calling process.
#pragma once

#include <cstdint>

namespace platform {

// The operating system's identifier of this process; the same from every
// thread, never reused while the process lives. Any thread.
std::uint32_t current_process_id() noexcept;

}  // namespace platform
