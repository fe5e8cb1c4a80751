#include "filter/counters.h"

#include <cstdint>
#include <sstream>

std::size_t filter_counters::stripe_index() noexcept {
  // Threads' stacks lie apart, so the stack's address tells threads apart
  // without a thread-local (which MinGW emulates, allocating on a thread's
  // first use). A thread that lands on two stripes, or two threads on one,
  // only share a cache line.
  const char here = 0;
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&here));
  return static_cast<std::size_t>(((address >> 16) * 0x9E3779B97F4A7C15ull) >> 58) % stripes;
}

void filter_counters::reset() noexcept {
  for (request_side& side : stripes_) {
    side.queued.store(0);
    side.dropped_by_limit.store(0);
    side.enqueue_failures.store(0);
    side.over_variable_limit.store(0);
  }
  worker_.dequeued.store(0);
  worker_.dequeue_failures.store(0);
  worker_.dropped_at_unload.store(0);
  deepest_.store(0);
}

counter_values filter_counters::read() const noexcept {
  counter_values values;
  for (const request_side& side : stripes_) {
    values.queued += side.queued.load(std::memory_order_relaxed);
    values.dropped_by_limit += side.dropped_by_limit.load(std::memory_order_relaxed);
    values.enqueue_failures += side.enqueue_failures.load(std::memory_order_relaxed);
    values.over_variable_limit += side.over_variable_limit.load(std::memory_order_relaxed);
  }
  values.dequeued = worker_.dequeued.load(std::memory_order_relaxed);
  values.dequeue_failures = worker_.dequeue_failures.load(std::memory_order_relaxed);
  values.dropped_at_unload = worker_.dropped_at_unload.load(std::memory_order_relaxed);
  values.deepest = deepest_.load(std::memory_order_relaxed);
  return values;
}

std::uint64_t filter_counters::dropped_by_limit() const noexcept {
  std::uint64_t total = 0;
  for (const request_side& side : stripes_) total += side.dropped_by_limit.load(std::memory_order_relaxed);
  return total;
}

std::string counters_text(const counter_values& values, bool variable_limit_set) {
  std::ostringstream text;
  text << "counters:" << " queued:" << values.queued << " dequeued:" << values.dequeued
       << " dropped_by_limit:" << values.dropped_by_limit
       << " dropped_at_unload:" << values.dropped_at_unload
       << " enqueue_failures:" << values.enqueue_failures
       << " dequeue_failures:" << values.dequeue_failures << " deepest:" << values.deepest;
  if (variable_limit_set) text << " over_variable_limit:" << values.over_variable_limit;
  return text.str();
}
