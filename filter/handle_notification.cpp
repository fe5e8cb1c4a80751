#include "filter/load_filter.h"

#include <exception>
#include <new>
#include <sstream>

#include "filter/diagnostics.h"
#include "filter/queue_limit.h"
#include "platform/thread.h"
#include "script/callbacks.h"
#include "script/time_limit.h"

namespace {

// `code`: the script error's, 0 for a failure of the filter's own.
void trace_failure(const char* what, int code = 0) noexcept {
  try {
    std::ostringstream text;
    text << "error:" << " on_enqueue";
    if (code != 0) text << " code:" << code;
    text << " message:" << what;
    if (!text) return;  // out of memory mid-way: the text is cut short
    debug_trace(text.str());
  } catch (...) {
  }
}

// Runs on_enqueue; every failure ends here as one trace line, counted, and no
// record. A script's failure throws nothing (try_on_enqueue).
record* make_record(script_state& state, request_handle& handle, filter_counters& counters) noexcept {
  enqueue_outcome outcome = try_on_enqueue(state, &handle);
  using ending = enqueue_outcome::ending;
  if (outcome.end == ending::kept) return outcome.made;
  if (outcome.end == ending::dropped) return nullptr;
  trace_failure(outcome.message.c_str(), outcome.end == ending::result_error ? 0 : outcome.code);
  counters.count_enqueue_failure();
  return nullptr;
}

// Fixed storage makes giving a state back fail only when the system refuses the
// pool's semaphores: a few tries ride out a passing refusal. A state that still
// cannot go back stays owned by the pool-state array, which closes it at unload.
void give_back(guarded_queue<script_state>& pool, script_state* state) noexcept {
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      if (!pool.put(state)) trace_failure("the state pool failed to wake a waiter");
      return;
    } catch (...) {
      platform::sleep_milliseconds(1);
    }
  }
  trace_failure("the state pool failed: a pool state is out of service until unload");
}

}  // namespace

DWORD handle_notification(filter_state& filter, HTTP_FILTER_CONTEXT* context,
                          DWORD notification_type, void* notification) noexcept {
  if (notification_type != SF_NOTIFY_LOG) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  const in_flight_pass pass(filter.gate);  // unload frees nothing while we are inside
  if (!pass || filter.passing_through.load()) return SF_STATUS_REQ_NEXT_NOTIFICATION;

  script_state* state = nullptr;
  try {
    state = filter.state_pool->take();
  } catch (...) {
    trace_failure("the state pool failed");
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }

  request_handle handle{context, static_cast<HTTP_FILTER_LOG*>(notification)};
  record* made = nullptr;
  {
    // The deadline is the state's: it ends before the state goes back.
    const callback_deadline deadline(state, filter.settings.time_limit);
    made = make_record(*state, handle, filter.counters);
  }

  // The state goes back before the record is queued: no thread ever holds
  // both queues' locks.
  give_back(*filter.state_pool, state);
  if (made != nullptr && drop_when_full(filter, made)) made = nullptr;
  if (made != nullptr) {
    try {
      filter.record_queue->put(made);
      filter.counters.count_queued(filter.record_queue->size());
    } catch (const queue_sealed&) {
      // The unload stopped waiting for this notification and the worker has
      // ended: nobody takes the record any more.
      delete made;
      filter.counters.count_dropped_at_unload(1);
      trace_failure("the filter was unloaded meanwhile: the record is dropped");
    } catch (const std::bad_alloc&) {
      delete made;  // not stored: still ours
      trace_failure("not enough memory");
    } catch (...) {
      delete made;  // a put that throws stored nothing
      trace_failure("the record queue failed");
    }
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
