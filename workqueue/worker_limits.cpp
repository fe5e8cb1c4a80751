#include "workqueue/worker_limits.h"

#include <sstream>

#include "filter/diagnostics.h"
#include "script/callbacks.h"
#include "script/time_limit.h"

void dequeue_within_limits(worker_context& context, record* rec, std::int32_t number) {
  if (context.drain != nullptr && context.drain->expired()) {
    delete rec;
    context.drain->count_dropped();
    if (context.counters != nullptr) context.counters->count_dropped_at_unload(1);
    return;
  }
  if (context.counters != nullptr) context.counters->count_dequeued();
  const callback_deadline deadline(context.main_state, context.time_limit != nullptr ? *context.time_limit : 0);
  try {
    run_on_dequeue(*context.main_state, rec, number);
  } catch (...) {
    if (context.counters != nullptr) context.counters->count_dequeue_failure();
    throw;
  }
}

void pause_within_drain(const worker_context& context, std::uint32_t milliseconds) noexcept {
  if (context.drain != nullptr)
    context.drain->pause(milliseconds);
  else
    platform::sleep_milliseconds(milliseconds);
}

void count_left_over(worker_context& context) noexcept {
  if (context.counters != nullptr) context.counters->count_dropped_at_unload(context.record_queue->size());
  if (context.drain == nullptr || context.drain->dropped() == 0) return;
  try {
    std::ostringstream text;
    text << "error:" << " worker" << " message:" << "drain limit " << context.drain->limit()
         << " ms reached, " << context.drain->dropped() << " queued records dropped";
    if (text) debug_trace(text.str());
  } catch (...) {
  }
}
