// The one worker thread: hands queued records to on_dequeue, in order.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"
#include "script/record.h"
#include "script/script_state.h"
#include "workqueue/guarded_queue.h"

// What the worker reads; owned by the filter, outlives the thread.
struct worker_context {
  guarded_queue<record>* record_queue = nullptr;
  script_state* main_state = nullptr;
  const std::int32_t* process_interval = nullptr;  // read after every record
  std::atomic<bool> running{false};
};

// Sets the running flag and starts the thread; null when none could start.
platform::thread_handle start_worker(worker_context& context) noexcept;

// Clears the flag, interrupts the queue (or, should that fail, queues a null
// wake-up), waits for the thread to drain the queue and end, destroys records
// left by a worker whose take failed, and closes the handle. True when the wait
// and the close succeeded; false at once when the worker cannot be woken.
// Never throws.
bool stop_worker(worker_context& context, platform::thread_handle thread) noexcept;
