// The drain limit: how long unload lets the worker hand queued records on,
// pauses included.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/wake_event.h"

// Configured at load before the worker starts; begin() from the unloading
// thread, the rest from the worker.
class drain_clock {
 public:
  // 0: no limit, and pauses are plain sleeps as without one. Throws
  // std::bad_alloc or std::runtime_error when the wake-up cannot be made.
  void configure(std::int32_t limit_milliseconds);

  // Starts the limit's clock and cuts short a pause in progress.
  void begin() noexcept;

  // True once the limit has passed since begin().
  bool expired() const noexcept {
    return begun_.load() && steady_now() >= deadline_.load(std::memory_order_relaxed);
  }

  // Pauses `milliseconds`, but no further than the limit once it has begun.
  void pause(std::uint32_t milliseconds) noexcept;

  std::int32_t limit() const noexcept { return limit_; }

  // Records freed unhanded once the limit had passed: the worker's, read after it ended.
  void count_dropped() noexcept { ++dropped_; }
  std::uint64_t dropped() const noexcept { return dropped_; }

 private:
  static std::int64_t steady_now() noexcept;

  std::int32_t limit_ = 0;
  std::unique_ptr<platform::wake_event> woken_;  // only with a limit
  std::atomic<std::int64_t> deadline_{0};
  std::atomic<bool> begun_{false};  // set after deadline_
  std::uint64_t dropped_ = 0;
};
