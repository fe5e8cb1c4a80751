// How the worker waits for its next record. Waking a sleeping thread costs
// both sides a trip through the kernel, more than a record's own work. So
// while records come closer together than a nap, the worker naps between them
// instead of sleeping, and putters skip the wake-up; a nap that finds nothing
// means they have stopped coming, and the worker sleeps until a put wakes it,
// so an idle worker spends nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

// Long enough to gather many records per wake-up at full speed, short enough
// to keep a record's wait far below a millisecond.
constexpr std::uint32_t worker_nap_microseconds = 200;

// Gives the worker loop take and size over `Queue` (take, take_after_nap,
// size). For one taking thread; the queue outlives it.
template <class Queue, class Clock = std::chrono::steady_clock>
class napping_taker {
 public:
  explicit napping_taker(Queue& queue, std::uint32_t nap_microseconds = worker_nap_microseconds)
      : queue_(queue), nap_(nap_microseconds) {}

  napping_taker(const napping_taker&) = delete;
  napping_taker& operator=(const napping_taker&) = delete;

  // The queue's take, with the same results and exceptions, by nap or sleep.
  auto take() -> decltype(std::declval<Queue&>().take()) {
    if (napping_) {
      decltype(queue_.take()) item{};
      if (queue_.take_after_nap(nap_, item)) return item;
      napping_ = false;  // a whole nap went by without a record
    }
    const auto start = Clock::now();
    auto item = queue_.take();
    // Came within a nap of asking: the next ones likely will too.
    napping_ = Clock::now() - start < std::chrono::microseconds(nap_);
    return item;
  }

  std::size_t size() const noexcept { return queue_.size(); }

 private:
  Queue& queue_;
  const std::uint32_t nap_;
  bool napping_ = false;
};
