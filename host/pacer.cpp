#include "host/pacer.h"

#include <thread>

void pacer::wait_turn() {
  if (rate_ <= 0) return;
  const auto due = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(static_cast<double>(count_) / rate_));
  ++count_;
  std::this_thread::sleep_until(due);
}
