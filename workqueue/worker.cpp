#include "workqueue/worker.h"

#include <cstddef>
#include <sstream>
#include <string>

#include "filter/diagnostics.h"
#include "workqueue/napping_taker.h"
#include "workqueue/worker_limits.h"
#include "workqueue/worker_loop.h"

namespace {

// Composes first, so that lack of memory costs only the line.
template <class Compose>
void trace(Compose compose) noexcept {
  try {
    std::ostringstream text;
    compose(text);
    if (!text) return;  // out of memory mid-way: the text is cut short
    debug_trace(text.str());
  } catch (...) {
  }
}

void pause_after_record(const worker_context& context) noexcept {
  const std::int32_t interval = *context.process_interval;
  if (interval > 0) pause_within_drain(context, static_cast<std::uint32_t>(interval));
}

void worker_main(void* argument) noexcept {
  worker_context& context = *static_cast<worker_context*>(argument);
  napping_taker<guarded_queue<record>> records(*context.record_queue);
  run_worker_loop(
      records, context.running,
      [&context](record* rec, std::int32_t number) { dequeue_within_limits(context, rec, number); },
      [&context]() noexcept { pause_after_record(context); });
}

}  // namespace

void destroy_stranded(guarded_queue<record>& queue, filter_counters* counters) noexcept {
  std::size_t dropped = 0;
  try {
    // Under the lock: a notification that outlived the unload's wait may be
    // putting its record right now; after this its put is refused.
    queue.seal_and_drain([&dropped](record* rec) {
      if (rec == nullptr) return;
      delete rec;
      ++dropped;
    });
  } catch (...) {
    // The lock itself failed: the queue is left as it is, never read unlocked.
    trace_worker_failure("the record queue failed: what it holds is left in memory");
    return;
  }
  if (dropped == 0) return;
  if (counters != nullptr) counters->count_dropped_at_unload(dropped);
  trace([dropped](std::ostream& text) {
    text << "error:" << " worker" << " message:" << dropped << " queued records dropped";
  });
}

void trace_dequeue_error(const script_exec_error& error) noexcept {
  trace([&error](std::ostream& text) {
    text << "error:" << " on_dequeue" << " code:" << error.code << " message:" << error.message;
  });
}

void trace_dequeue_failure(const char* what) noexcept {
  trace([what](std::ostream& text) { text << "error:" << " on_dequeue" << " message:" << what; });
}

void trace_worker_failure(const char* what) noexcept {
  trace([what](std::ostream& text) { text << "error:" << " worker" << " message:" << what; });
}

platform::thread_handle start_worker(worker_context& context) noexcept {
  context.running.store(true);
  const platform::thread_handle thread = platform::start_thread(worker_main, &context);
  if (thread == nullptr) context.running.store(false);
  return thread;
}

worker_end stop_worker(worker_context& context, platform::thread_handle thread) noexcept {
  context.running.store(false);
  if (context.drain != nullptr) context.drain->begin();
  // Waiting would never end, or did not: the thread is let go.
  if (!wake_worker(*context.record_queue) || !platform::wait_thread(thread)) {
    platform::close_thread(thread);
    return worker_end::unconfirmed;
  }
  // Counted here, so count_left_over finds the queue empty and sealed.
  destroy_stranded(*context.record_queue, context.counters);
  count_left_over(context);
  return platform::close_thread(thread) ? worker_end::stopped : worker_end::close_failed;
}
