#include "filter/load_filter.h"

#include "filter/diagnostics.h"
#include "filter/operations.h"
#include "platform/debug_output.h"
#include "script/callbacks.h"
#include "script/time_limit.h"
#include "workqueue/worker_loop.h"

namespace {

// A worker not known to have ended may still be inside the record queue or
// on_dequeue: what it reaches stays alive for good, a bounded leak on a path
// that only a failing system takes, and on_term, which would share the main
// state with it, does not run.
void abandon_worker(filter_state& filter) noexcept {
  trace_worker_failure("not known to have ended: its queue and main state are left alive");
  filter.worker = nullptr;
  filter.record_queue = nullptr;
  filter.main_state = nullptr;
}

}  // namespace

BOOL unload_filter(filter_state& filter) noexcept {
  if (!filter.gate.begin_unload()) return FALSE;
  // Notifications that a host let run into unload use the state pool, the
  // pool states and the record queue: those are freed only once all have left.
  const bool drained = filter.gate.wait_for_notifications(unload_wait_milliseconds);
  if (!drained) debug_trace(unload_gave_up);
  BOOL result = drained ? TRUE : FALSE;

  const worker_end end = stop_worker(*filter.worker, filter.worker_thread);
  filter.worker_thread = nullptr;
  if (end != worker_end::stopped) result = FALSE;
  if (end == worker_end::unconfirmed) abandon_worker(filter);
  delete filter.worker;
  filter.worker = nullptr;
  if (drained) {
    delete filter.record_queue;
    filter.record_queue = nullptr;
  }

  try {
    const callback_deadline deadline(filter.settings.time_limit);
    if (filter.main_state != nullptr && !run_on_term(*filter.main_state)) result = FALSE;
  } catch (...) {
    // A failing on_term only turns the result; unload goes on to its end.
    result = FALSE;
  }

  if (drained) close_pool(filter);
  if (filter.main_state != nullptr) close_script_state(filter.main_state);
  filter.main_state = nullptr;
  finish_operations(filter, true);
  platform::stop_debug_output();  // after the last line of this unload

  filter.gate.end_unload(drained);
  return result;
}
