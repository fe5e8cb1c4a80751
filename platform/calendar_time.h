// Calendar time from a time value, without the C library's shared buffer.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Breaks `time` into UTC (`utc`) or local calendar time in `out`. Safe on any
// number of threads at once. False when the time has no calendar form.
bool calendar_time(std::int64_t time, bool utc, std::tm& out) noexcept;

}  // namespace platform
