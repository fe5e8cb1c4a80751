#include "workqueue/worker.h"

#include <cstddef>
#include <sstream>
#include <string>

#include "filter/diagnostics.h"
#include "workqueue/napping_taker.h"
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
  if (interval > 0) platform::sleep_milliseconds(static_cast<std::uint32_t>(interval));
}

void worker_main(void* argument) noexcept {
  worker_context& context = *static_cast<worker_context*>(argument);
  napping_taker<guarded_queue<record>> records(*context.record_queue);
  run_worker_loop(
      records, context.running,
      [&context](record* rec, std::int32_t number) {
        run_on_dequeue(*context.main_state, rec, number);
      },
      [&context]() noexcept { pause_after_record(context); });
}

}  // namespace

void destroy_stranded(guarded_queue<record>& queue) noexcept {
  std::size_t dropped = 0;
  queue.drain_unshared([&dropped](record* rec) {
    if (rec == nullptr) return;
    delete rec;
    ++dropped;
  });
  if (dropped == 0) return;
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

bool stop_worker(worker_context& context, platform::thread_handle thread) noexcept {
  context.running.store(false);
  if (!wake_worker(*context.record_queue)) {
    // Waiting would never end; the thread is let go.
    platform::close_thread(thread);
    return false;
  }
  const bool waited = platform::wait_thread(thread);
  if (waited) destroy_stranded(*context.record_queue);
  const bool closed = platform::close_thread(thread);
  return waited && closed;
}
