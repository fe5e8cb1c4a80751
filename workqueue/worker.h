// The one worker thread: hands queued records to on_dequeue, in order.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"
#include "script/record.h"
#include "filter/counters.h"
#include "script/script_state.h"
#include "workqueue/drain_clock.h"
#include "workqueue/guarded_queue.h"

// What the worker reads; owned by the filter, outlives the thread.
struct worker_context {
  guarded_queue<record>* record_queue = nullptr;
  script_state* main_state = nullptr;
  const std::int32_t* process_interval = nullptr;  // read after every record
  std::atomic<bool> running{false};
  const std::int32_t* time_limit = nullptr;  // per on_dequeue call; null: none
  drain_clock* drain = nullptr;              // null: drain everything
  filter_counters* counters = nullptr;       // null: nothing counted
};

// Sets the running flag and starts the thread; null when none could start.
platform::thread_handle start_worker(worker_context& context) noexcept;

// How Stop left the worker: ended (handle closed or not), or not known to have
// ended, and then it may still use the context, the queue and the main state.
enum class worker_end { stopped, close_failed, unconfirmed };

// Clears the flag, interrupts the queue (or, should that fail, queues a null
// wake-up), waits for the thread to drain the queue and end, destroys records
// left by a worker whose take failed, and closes the handle. Unconfirmed at
// once when the worker cannot be woken or the wait fails. Never throws.
worker_end stop_worker(worker_context& context, platform::thread_handle thread) noexcept;
