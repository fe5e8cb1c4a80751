// The worker's loop and Stop's wake-up, written against any queue with take,
// size, put and interrupt, so that each of their outcomes can be driven alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>

#include "script/callbacks.h"
#include "script/record.h"
#include "workqueue/guarded_queue.h"
#include "workqueue/semaphore.h"

// The record number after `number`: 2147483647 is followed by -2147483648.
constexpr std::int32_t next_record_number(std::int32_t number) noexcept {
  return number == std::numeric_limits<std::int32_t>::max()
             ? std::numeric_limits<std::int32_t>::min()
             : number + 1;
}

// One trace line each: "error: on_dequeue code:<code> message:<message>",
// "error: on_dequeue message:<what>" and "error: worker message:<what>".
void trace_dequeue_error(const script_exec_error& error) noexcept;
void trace_dequeue_failure(const char* what) noexcept;
void trace_worker_failure(const char* what) noexcept;

// Takes items one at a time and hands each to consume(item, record number),
// which owns it from then on; calls pause() after every item, failed or not.
// Ends when `running` is clear and the queue empty, or when take finds the
// queue interrupted and empty. A null item is only a wake-up and is skipped.
// A failure of consume costs its item and is traced; a failure of take is
// traced and ends the loop, leaving what is queued to the queue's owner.
template <class Queue, class Consume, class Pause>
void run_worker_loop(Queue& queue, const std::atomic<bool>& running, Consume consume,
                     Pause pause) noexcept {
  std::int32_t number = 0;
  for (;;) {
    // The size is only a hint, so it is read only once the flag is clear.
    if (!running.load() && queue.size() == 0) return;
    decltype(queue.take()) item;
    try {
      item = queue.take();
    } catch (const threadutil::semaphore_interrupted&) {
      return;
    } catch (...) {
      trace_worker_failure("take failed, the worker ends");
      return;
    }
    if (item == nullptr) continue;
    try {
      consume(item, number);
    } catch (const script_exec_error& error) {
      trace_dequeue_error(error);
    } catch (const std::bad_alloc&) {
      trace_dequeue_failure("not enough memory");
    } catch (const std::exception& error) {
      trace_dequeue_failure(error.what());
    } catch (...) {
      trace_dequeue_failure("unknown exception");
    }
    pause();
    number = next_record_number(number);
  }
}

// Ends the worker's wait on an empty queue. When the interrupt fails, a null
// item behind the queued records wakes the worker instead. False, after a trace
// line for each failure, when neither worked.
template <class Queue>
bool wake_worker(Queue& queue) noexcept {
  try {
    queue.interrupt();
    return true;
  } catch (...) {
    trace_worker_failure("interrupt failed");
  }
  try {
    queue.put(nullptr);
    return true;
  } catch (...) {
    trace_worker_failure("the worker cannot be woken");
    return false;
  }
}

// Seals the queue and destroys the records left in it (by a worker ended by a
// failed take, or put by a notification after the worker ended), counting
// them as dropped at unload (when `counters` is given) with one trace line
// giving their number; skips null wake-ups. Once the worker has ended; late
// putters may still come and are refused.
class filter_counters;
void destroy_stranded(guarded_queue<record>& queue, filter_counters* counters = nullptr) noexcept;
