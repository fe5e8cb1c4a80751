#include "filter/in_flight.h"

#include <chrono>

#include "platform/thread.h"

bool filter_gate::begin_load(phase& found) noexcept {
  found = phase::idle;
  return phase_.compare_exchange_strong(found, phase::loading);
}

void filter_gate::end_load(bool succeeded) noexcept {
  phase_.store(succeeded ? phase::loaded : phase::idle);
}

bool filter_gate::begin_unload() noexcept {
  phase expected = phase::loaded;
  return phase_.compare_exchange_strong(expected, phase::unloading);
}

bool filter_gate::wait_for_notifications(std::uint32_t milliseconds) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  // Polled rather than signalled: a notification must not pay for a wake-up.
  while (inside_.load() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::sleep_milliseconds(1);
  }
  return true;
}

void filter_gate::end_unload(bool drained) noexcept {
  phase_.store(drained ? phase::idle : phase::stranded);
}

// Both sides are sequentially consistent: either the notification sees the
// phase that unload set, or unload sees the notification's count.
bool filter_gate::enter() noexcept {
  inside_.fetch_add(1);
  if (phase_.load() == phase::loaded) return true;
  inside_.fetch_sub(1);
  return false;
}

void filter_gate::leave() noexcept { inside_.fetch_sub(1); }
