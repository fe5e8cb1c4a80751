#include "filter/load_filter.h"

#include <sstream>
#include <string>

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
  filter.main_state = nullptr;
}

// Why the unload's result is FALSE. The web server ignores that result, so
// its reasons go out as one trace line.
class unload_failure {
 public:
  void add(const char* reason) noexcept {
    try {
      text_ << (reasons_++ == 0 ? "quillharbor failed to unload (" : "; ") << reason;
    } catch (...) {
    }
  }
  void add_on_term_error(const script_exec_error& error) noexcept {
    add("script on_term() error");
    try {
      text_ << " code:" << error.code << " message:" << error.message;
    } catch (...) {
    }
  }
  bool any() const noexcept { return reasons_ != 0; }
  void trace() noexcept {
    if (reasons_ == 0) return;
    try {
      text_ << ')';
      // A stream out of memory has cut the text short: its first piece then.
      debug_trace(text_ ? text_.str() : std::string("quillharbor failed to unload"));
    } catch (...) {
    }
  }

 private:
  std::ostringstream text_;
  int reasons_ = 0;
};

void run_term(filter_state& filter, unload_failure& failure) noexcept {
  if (filter.main_state == nullptr) return;  // left to a worker not known to have ended
  try {
    const callback_deadline deadline(filter.main_state, filter.settings.time_limit);
    if (!run_on_term(*filter.main_state)) failure.add("script on_term() returned false");
  } catch (const script_exec_error& e) {
    failure.add_on_term_error(e);
  } catch (...) {
    failure.add("script on_term() failed");
  }
}

}  // namespace

BOOL unload_filter(filter_state& filter) noexcept {
  switch (filter.gate.begin_unload()) {
    case filter_gate::unload_start::refused: return FALSE;
    case filter_gate::unload_start::load_given_back: return TRUE;  // another load still holds it
    case filter_gate::unload_start::last: break;
  }
  if (filter.passing_through.exchange(false)) {
    filter.gate.end_unload(true);  // a failed load left nothing to release
    return TRUE;
  }
  unload_failure failure;
  // Notifications that a host let run into unload use the state pool, the
  // pool states and the record queue: those are freed only once all have left.
  const bool drained = filter.gate.wait_for_notifications(unload_wait_milliseconds);
  if (!drained) {
    debug_trace(unload_gave_up);
    failure.add("notifications still running");
  }

  const worker_end end = stop_worker(*filter.worker, filter.worker_thread);
  filter.worker_thread = nullptr;
  if (end == worker_end::close_failed) failure.add("the worker thread's handle could not be closed");
  if (end == worker_end::unconfirmed) {
    failure.add("the worker thread is not confirmed ended");
    abandon_worker(filter);
  }
  delete filter.worker;
  filter.worker = nullptr;
  // A late notification may still put onto the queue (and is refused there),
  // so it stays while one may; an unconfirmed worker may still take from it,
  // so it is then only let go.
  if (drained) {
    if (end != worker_end::unconfirmed) delete filter.record_queue;
    filter.record_queue = nullptr;
  }

  run_term(filter, failure);

  if (drained) close_pool(filter);
  if (filter.main_state != nullptr) close_script_state(filter.main_state);
  filter.main_state = nullptr;
  failure.trace();
  finish_operations(filter, true);
  platform::stop_debug_output();  // after the last line of this unload

  filter.gate.end_unload(drained);
  return failure.any() ? FALSE : TRUE;
}
