#include "filter/queue_limit.h"

#include <sstream>

#include "filter/diagnostics.h"
#include "platform/clock.h"

namespace {

constexpr std::int64_t trace_every_milliseconds = 10000;

void trace_dropping(filter_state& filter) noexcept {
  const std::int64_t now = platform::steady_milliseconds();
  std::int64_t next = filter.next_drop_trace.load(std::memory_order_relaxed);
  if (now < next) return;
  // One thread wins the line; the others go on without waiting.
  if (!filter.next_drop_trace.compare_exchange_strong(next, now + trace_every_milliseconds)) return;
  try {
    std::ostringstream text;
    text << "error:" << " queue" << " message:" << "limit " << filter.settings.queue_limit
         << " reached, " << filter.counters.dropped_by_limit() << " records dropped so far";
    if (text) debug_trace(text.str());
  } catch (...) {
  }
}

}  // namespace

bool drop_over_limit(filter_state& filter, record* made) noexcept {
  if (filter.record_queue->size() < static_cast<std::size_t>(filter.settings.queue_limit)) return false;
  delete made;
  filter.counters.count_dropped_by_limit();
  trace_dropping(filter);
  return true;
}
