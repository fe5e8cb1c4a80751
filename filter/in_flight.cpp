#include "filter/in_flight.h"

#include <chrono>

#include "platform/thread.h"

namespace {

constexpr std::uint32_t phase_bits = 7;
constexpr std::uint32_t one_more_load = 8;

filter_gate::phase phase_of(std::uint32_t word) noexcept {
  return static_cast<filter_gate::phase>(word & phase_bits);
}
constexpr std::uint32_t word_of(filter_gate::phase phase) noexcept {
  return static_cast<std::uint32_t>(phase);
}

}  // namespace

bool filter_gate::begin_load(phase& found) noexcept {
  std::uint32_t expected = word_of(phase::idle);
  if (word_.compare_exchange_strong(expected, word_of(phase::loading))) return true;
  found = phase_of(expected);
  return false;
}

bool filter_gate::share_load(phase& found) noexcept {
  std::uint32_t word = word_.load();
  // The count stops well short of the word's end: a host that loads that often
  // is refused rather than wrapped round.
  while (phase_of(word) == phase::loaded && word < ~phase_bits - one_more_load) {
    if (word_.compare_exchange_weak(word, word + one_more_load)) return true;
  }
  found = phase_of(word);
  return false;
}

std::uint32_t filter_gate::loads() const noexcept {
  const std::uint32_t word = word_.load();
  return phase_of(word) == phase::loaded ? word / one_more_load + 1 : 0;
}

void filter_gate::end_load(bool succeeded) noexcept {
  word_.store(word_of(succeeded ? phase::loaded : phase::idle));
}

filter_gate::unload_start filter_gate::begin_unload() noexcept {
  std::uint32_t word = word_.load();
  while (phase_of(word) == phase::loaded) {
    const bool shared = word >= one_more_load;
    const std::uint32_t next = shared ? word - one_more_load : word_of(phase::unloading);
    if (word_.compare_exchange_weak(word, next))
      return shared ? unload_start::load_given_back : unload_start::last;
  }
  return unload_start::refused;
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
  word_.store(word_of(drained ? phase::idle : phase::stranded));
}

// Both sides are sequentially consistent: either the notification sees the
// phase that unload set, or unload sees the notification's count.
bool filter_gate::enter() noexcept {
  inside_.fetch_add(1);
  if (phase_of(word_.load()) == phase::loaded) return true;
  inside_.fetch_sub(1);
  return false;
}

void filter_gate::leave() noexcept { inside_.fetch_sub(1); }
