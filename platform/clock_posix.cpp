#include "platform/clock.h"

#include <ctime>

namespace platform {

namespace {

std::int64_t milliseconds_of(clockid_t clock) noexcept {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

std::int64_t utc_milliseconds() noexcept { return milliseconds_of(CLOCK_REALTIME); }

std::int64_t steady_milliseconds() noexcept { return milliseconds_of(CLOCK_MONOTONIC); }

}  // namespace platform
