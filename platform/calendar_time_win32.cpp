#include "platform/calendar_time.h"

#include <time.h>

namespace platform {

// The run time's gmtime and localtime keep one buffer per thread, but the
// _s forms keep none at all, which needs no reasoning about fibers or threads.
bool calendar_time(std::int64_t time, bool utc, std::tm& out) noexcept {
  const __time64_t t = time;
  return (utc ? _gmtime64_s(&out, &t) : _localtime64_s(&out, &t)) == 0;
}

}  // namespace platform
