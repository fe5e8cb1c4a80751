#include "platform/calendar_time.h"

namespace platform {

bool calendar_time(std::int64_t time, bool utc, std::tm& out) noexcept {
  const time_t t = static_cast<time_t>(time);
  if (utc) return gmtime_r(&t, &out) != nullptr;
  // localtime reads TZ again on every call, localtime_r need not.
  tzset();
  return localtime_r(&t, &out) != nullptr;
}

}  // namespace platform
