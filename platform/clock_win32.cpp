#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::int64_t utc_milliseconds() noexcept {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100-nanosecond intervals since 1601-01-01, which lies 11644473600 s before 1970.
  const std::int64_t intervals =
      (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return intervals / 10000 - std::int64_t{11644473600} * 1000;
}

std::int64_t steady_milliseconds() noexcept {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace platform
