// Counting semaphore whose waits can be ended by a one-way interrupt.
#pragma once

#include <cstdint>

namespace threadutil {

// An operating-system call failed. Thrown by value, caught by const reference.
struct semaphore_error {};

// A wait found no unit and the interrupt raised.
struct semaphore_interrupted {};

// Any number of threads may wait, post and interrupt at once. The owner makes
// sure no thread is inside wait when it is destroyed.
class semaphore {
 public:
  static constexpr std::int32_t max_count = 2147483647;

  // Throws semaphore_error, also for a count below 0; then nothing is left open.
  explicit semaphore(std::int32_t initial_count);
  virtual ~semaphore();

  semaphore(const semaphore&) = delete;
  semaphore& operator=(const semaphore&) = delete;

  // Takes one unit, blocking without time-out while there is none. A unit is
  // taken even after the interrupt; with none left, throws
  // semaphore_interrupted at once. Throws semaphore_error.
  void wait();

  // Takes a unit if there is one, or else sleeps up to `microseconds` and takes
  // one if it came meanwhile. A post need not end the nap: it skips the wake-up
  // it owes a sleeper in wait. The interrupt ends it. True with a unit taken,
  // false with none; throws as wait.
  bool nap(std::uint32_t microseconds);

  // Adds one unit. Throws semaphore_error at max_count (count unchanged).
  void post();

  // Raises the interrupt for good and wakes every waiter that finds no unit.
  // Throws semaphore_error.
  void interrupt();

 private:
  struct native;  // the operating system's objects, per platform
  native* native_;
};

}  // namespace threadutil
