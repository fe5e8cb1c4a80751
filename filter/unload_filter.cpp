#include "filter/load_filter.h"

#include "filter/diagnostics.h"
#include "script/callbacks.h"

BOOL unload_filter(filter_state& filter) noexcept {
  if (!filter.gate.begin_unload()) return FALSE;
  // Notifications that a host let run into unload use the state pool, the
  // pool states and the record queue: those are freed only once all have left.
  const bool drained = filter.gate.wait_for_notifications(unload_wait_milliseconds);
  if (!drained) debug_trace(unload_gave_up);
  BOOL result = drained ? TRUE : FALSE;

  if (!stop_worker(filter.worker, filter.worker_thread)) result = FALSE;
  filter.worker_thread = nullptr;
  if (drained) {
    delete filter.record_queue;
    filter.record_queue = nullptr;
  }

  try {
    if (!run_on_term(*filter.main_state)) result = FALSE;
  } catch (...) {
    // A failing on_term only turns the result; unload goes on to its end.
    result = FALSE;
  }

  if (drained) {
    delete filter.state_pool;
    filter.state_pool = nullptr;
    for (script_state* state : filter.pool_states) close_script_state(state);
    filter.pool_states.clear();
    filter.pool_states.shrink_to_fit();
  }
  close_script_state(filter.main_state);
  filter.main_state = nullptr;

  filter.gate.end_unload(drained);
  return result;
}
