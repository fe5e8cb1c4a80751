// The worker's side of the drain limit, the time limit and the counters.
#pragma once

#include <cstdint>

#include "workqueue/worker.h"

// Hands `rec` to on_dequeue under the time limit, counted; once the drain limit
// has passed, frees it unhanded instead. Throws what run_on_dequeue throws.
void dequeue_within_limits(worker_context& context, record* rec, std::int32_t number);

// The pause after a record, cut short when the drain limit passes.
void pause_within_drain(const worker_context& context, std::uint32_t milliseconds) noexcept;

// Once the worker has ended: counts the records left in the queue as dropped
// at unload, and writes one trace line when the drain limit cut records off.
void count_left_over(worker_context& context) noexcept;
