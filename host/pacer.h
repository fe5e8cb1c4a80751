// Spacing notifications evenly at a given rate.
#pragma once

#include <chrono>
#include <cstdint>

// Used by the one thread that submits requests.
class pacer {
 public:
  // rate: notifications per second; 0 or less means no pacing at all.
  explicit pacer(double rate) : rate_(rate), start_(std::chrono::steady_clock::now()) {}

  // Returns when the next notification is due: the n-th at start + n / rate,
  // so a late one is followed at once by those it delayed.
  void wait_turn();

 private:
  double rate_;
  std::chrono::steady_clock::time_point start_;
  std::uint64_t count_ = 0;
};
