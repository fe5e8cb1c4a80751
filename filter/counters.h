// What the filter counts from load to unload, cheap enough for every request.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// One value of each counter, as read at one moment.
struct counter_values {
  std::uint64_t queued = 0;             // records put onto the record queue
  std::uint64_t dequeued = 0;           // records handed to on_dequeue
  std::uint64_t dropped_by_limit = 0;   // records freed because the queue was full
  std::uint64_t dropped_at_unload = 0;  // records freed unhanded when the worker ended
  std::uint64_t enqueue_failures = 0;   // on_enqueue calls that failed
  std::uint64_t dequeue_failures = 0;   // on_dequeue calls that failed
  std::uint64_t deepest = 0;            // the most records the queue has held
  std::uint64_t over_variable_limit = 0;  // server variables read as "" for needing more than the limit
};

// Relaxed atomics: a read sees each counter's own value at some recent moment,
// not all of them at one instant. Request threads count into stripes of their
// own cache line, so they do not take each other's lines away; the worker's
// counters lie on one line of their own. Any thread.
class filter_counters {
 public:
  void reset() noexcept;

  void count_queued(std::size_t depth) noexcept {
    stripe().queued.fetch_add(1, std::memory_order_relaxed);
    // Written only when deeper, so a steady queue reads the line and leaves it shared.
    std::uint64_t deepest = deepest_.load(std::memory_order_relaxed);
    while (depth > deepest &&
           !deepest_.compare_exchange_weak(deepest, depth, std::memory_order_relaxed)) {
    }
  }
  void count_dropped_by_limit() noexcept { stripe().dropped_by_limit.fetch_add(1, std::memory_order_relaxed); }
  void count_enqueue_failure() noexcept { stripe().enqueue_failures.fetch_add(1, std::memory_order_relaxed); }
  void count_over_variable_limit() noexcept {
    stripe().over_variable_limit.fetch_add(1, std::memory_order_relaxed);
  }

  // The worker's, and unload's once the worker has ended.
  void count_dequeued() noexcept { worker_.dequeued.fetch_add(1, std::memory_order_relaxed); }
  void count_dequeue_failure() noexcept { worker_.dequeue_failures.fetch_add(1, std::memory_order_relaxed); }
  void count_dropped_at_unload(std::uint64_t n) noexcept {
    worker_.dropped_at_unload.fetch_add(n, std::memory_order_relaxed);
  }

  counter_values read() const noexcept;
  std::uint64_t dropped_by_limit() const noexcept;

 private:
  static constexpr std::size_t stripes = 8;
  struct alignas(64) request_side {
    std::atomic<std::uint64_t> queued{0};
    std::atomic<std::uint64_t> dropped_by_limit{0};
    std::atomic<std::uint64_t> enqueue_failures{0};
    std::atomic<std::uint64_t> over_variable_limit{0};
  };
  struct alignas(64) worker_side {
    std::atomic<std::uint64_t> dequeued{0};
    std::atomic<std::uint64_t> dequeue_failures{0};
    std::atomic<std::uint64_t> dropped_at_unload{0};
  };

  request_side& stripe() noexcept { return stripes_[stripe_index()]; }
  static std::size_t stripe_index() noexcept;

  request_side stripes_[stripes];
  worker_side worker_;
  alignas(64) std::atomic<std::uint64_t> deepest_{0};
};

// "counters: queued:<n> dequeued:<n> dropped_by_limit:<n> dropped_at_unload:<n>
// enqueue_failures:<n> dequeue_failures:<n> deepest:<n>", the unload's line;
// " over_variable_limit:<n>" follows when the variable limit is set.
std::string counters_text(const counter_values& values, bool variable_limit_set = false);
