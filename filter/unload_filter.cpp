#include "filter/load_filter.h"

#include "filter/operations.h"
#include "script/callbacks.h"
#include "script/time_limit.h"

BOOL unload_filter(filter_state& filter) noexcept {
  if (!filter.loaded) return FALSE;
  BOOL result = TRUE;

  if (!stop_worker(filter.worker, filter.worker_thread)) result = FALSE;
  filter.worker_thread = nullptr;
  delete filter.record_queue;
  filter.record_queue = nullptr;

  try {
    const callback_deadline deadline(filter.settings.time_limit);
    if (!run_on_term(*filter.main_state)) result = FALSE;
  } catch (...) {
    // A failing on_term only turns the result; unload goes on to its end.
    result = FALSE;
  }

  delete filter.state_pool;
  filter.state_pool = nullptr;
  for (script_state* state : filter.pool_states) close_script_state(state);
  filter.pool_states.clear();
  filter.pool_states.shrink_to_fit();
  close_script_state(filter.main_state);
  filter.main_state = nullptr;
  finish_operations(filter, true);

  // The web server unloads once per load; a second call finds nothing to do.
  filter.loaded = false;
  return result;
}
