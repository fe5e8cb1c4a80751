#include "workqueue/drain_clock.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/thread.h"

std::int64_t drain_clock::steady_now() noexcept { return platform::steady_milliseconds(); }

void drain_clock::configure(std::int32_t limit_milliseconds) {
  limit_ = 0;
  begun_.store(false);
  dropped_ = 0;
  woken_.reset();
  if (limit_milliseconds > 0) woken_ = std::make_unique<platform::wake_event>();
  limit_ = limit_milliseconds;
}

void drain_clock::begin() noexcept {
  if (limit_ == 0) return;
  deadline_.store(steady_now() + limit_);
  begun_.store(true);
  woken_->set();
}

void drain_clock::pause(std::uint32_t milliseconds) noexcept {
  if (limit_ == 0) {
    platform::sleep_milliseconds(milliseconds);
    return;
  }
  const std::int64_t end = steady_now() + milliseconds;
  // Not woken: the whole pause passed before the drain began.
  if (!begun_.load() && !woken_->wait_for(milliseconds)) return;
  const std::int64_t rest = std::min(end, deadline_.load()) - steady_now();
  if (rest > 0) platform::sleep_milliseconds(static_cast<std::uint32_t>(rest));
}
