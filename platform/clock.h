// The two clocks: wall time for stamps, a steady one for limits.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since 1970-01-01T00:00:00Z on the system's clock. Any thread.
std::int64_t utc_milliseconds() noexcept;

// Milliseconds on a clock that never goes back, from an arbitrary origin. Any thread.
std::int64_t steady_milliseconds() noexcept;

}  // namespace platform
