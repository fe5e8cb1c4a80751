#include "filter/load_filter.h"

#include "filter/operations.h"
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
  if (!filter.loaded) return FALSE;
  BOOL result = TRUE;

  const worker_end end = stop_worker(*filter.worker, filter.worker_thread);
  filter.worker_thread = nullptr;
  if (end != worker_end::stopped) result = FALSE;
  if (end == worker_end::unconfirmed) abandon_worker(filter);
  delete filter.worker;
  filter.worker = nullptr;
  delete filter.record_queue;
  filter.record_queue = nullptr;

  try {
    const callback_deadline deadline(filter.settings.time_limit);
    if (filter.main_state != nullptr && !run_on_term(*filter.main_state)) result = FALSE;
  } catch (...) {
    // A failing on_term only turns the result; unload goes on to its end.
    result = FALSE;
  }

  delete filter.state_pool;
  filter.state_pool = nullptr;
  for (script_state* state : filter.pool_states) close_script_state(state);
  filter.pool_states.clear();
  filter.pool_states.shrink_to_fit();
  if (filter.main_state != nullptr) close_script_state(filter.main_state);
  filter.main_state = nullptr;
  finish_operations(filter, true);

  // The web server unloads once per load; a second call finds nothing to do.
  filter.loaded = false;
  return result;
}
