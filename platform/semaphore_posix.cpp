// The semaphore from a mutex, a condition variable, a counter and a flag.
#include "workqueue/semaphore.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace threadutil {

// The count is atomic, so that a wait that finds a unit and a post that finds
// no waiter need neither the mutex nor the kernel; the mutex and the condition
// variable serve only threads that have to sleep.
//
// No lost wake-up. A thread that sleeps in wait first counts itself in
// `waiters` under the mutex, then looks at `count`; post first raises `count`,
// then looks at `waiters`. All four accesses are sequentially consistent, so
// they fall into one order: either the sleeper's look sees the unit (and it
// does not sleep), or post's look sees the sleeper (and signals it after
// taking the mutex, which the sleeper gives up only inside
// pthread_cond_wait). A thread in nap is not counted, so post skips its
// wake-up; the nap ends by the clock and looks at `count` again, and a napper
// that then finds nothing goes into wait, whose registration is the case
// above. Every unit is therefore either seen by its taker or signalled to it.
struct semaphore::native {
  pthread_mutex_t mutex;
  pthread_cond_t changed;  // signalled on post, broadcast on interrupt; monotonic clock
  std::atomic<std::int32_t> count;
  std::atomic<std::int32_t> waiters;  // threads in the sleeping part of wait
  bool interrupted;  // under the mutex
};

namespace {

void check(int result) {
  if (result != 0) throw semaphore_error();
}

// Holds the mutex; released on every path out of an operation.
class held_mutex {
 public:
  explicit held_mutex(pthread_mutex_t& mutex) : mutex_(mutex) { check(pthread_mutex_lock(&mutex_)); }
  ~held_mutex() {
    if (!released_) pthread_mutex_unlock(&mutex_);
  }
  held_mutex(const held_mutex&) = delete;
  held_mutex& operator=(const held_mutex&) = delete;

  void release() {
    released_ = true;
    check(pthread_mutex_unlock(&mutex_));
  }

 private:
  pthread_mutex_t& mutex_;
  bool released_ = false;
};

// Takes a unit if there is one. Sequentially consistent, so that a sleeper's
// registration and its look at the count pair with post's increment and its
// look at the waiters: one of the two always sees the other.
bool try_take(std::atomic<std::int32_t>& count) noexcept {
  std::int32_t units = count.load();
  while (units > 0) {
    if (count.compare_exchange_weak(units, units - 1)) return true;
  }
  return false;
}

// Both queues hold their lock for a few instructions: a short look before
// sleeping usually finds the unit given back.
constexpr int looks_before_sleeping = 64;

// The monotonic time `microseconds` from now: a nap's end, unmoved by clock changes.
timespec monotonic_after(std::uint32_t microseconds) {
  timespec at{};
  clock_gettime(CLOCK_MONOTONIC, &at);
  const long long nanoseconds = at.tv_nsec + static_cast<long long>(microseconds) * 1000;
  at.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
  at.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return at;
}

// A condition variable whose timed waits use the monotonic clock.
int init_monotonic_cond(pthread_cond_t& cond) {
  pthread_condattr_t attributes;
  int result = pthread_condattr_init(&attributes);
  if (result != 0) return result;
  result = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  if (result == 0) result = pthread_cond_init(&cond, &attributes);
  pthread_condattr_destroy(&attributes);
  return result;
}

}  // namespace

semaphore::semaphore(std::int32_t initial_count) : native_(nullptr) {
  if (initial_count < 0) throw semaphore_error();
  native* made = new (std::nothrow) native;
  if (made == nullptr) throw semaphore_error();
  if (pthread_mutex_init(&made->mutex, nullptr) != 0) {
    delete made;
    throw semaphore_error();
  }
  if (init_monotonic_cond(made->changed) != 0) {
    pthread_mutex_destroy(&made->mutex);
    delete made;
    throw semaphore_error();
  }
  made->count.store(initial_count);
  made->waiters.store(0);
  made->interrupted = false;
  native_ = made;
}

semaphore::~semaphore() {
  pthread_cond_destroy(&native_->changed);
  pthread_mutex_destroy(&native_->mutex);
  delete native_;
}

void semaphore::wait() {
  for (int look = 0; look < looks_before_sleeping; ++look) {
    if (try_take(native_->count)) return;
  }
  held_mutex lock(native_->mutex);
  native_->waiters.fetch_add(1);
  int result = 0;
  bool taken = false;
  // A unit wins over the interrupt, however both arrived.
  while (!(taken = try_take(native_->count)) && !native_->interrupted && result == 0)
    result = pthread_cond_wait(&native_->changed, &native_->mutex);
  native_->waiters.fetch_sub(1);
  if (taken) {
    lock.release();
    return;
  }
  check(result);
  lock.release();
  throw semaphore_interrupted();
}

bool semaphore::nap(std::uint32_t microseconds) {
  if (try_take(native_->count)) return true;
  const timespec until = monotonic_after(microseconds);
  held_mutex lock(native_->mutex);
  int result = 0;
  bool taken = false;
  // Not counted among the waiters: only the clock or the interrupt ends it.
  while (!(taken = try_take(native_->count)) && !native_->interrupted && result == 0)
    result = pthread_cond_timedwait(&native_->changed, &native_->mutex, &until);
  const bool interrupted = native_->interrupted;
  lock.release();
  if (taken) return true;
  if (result != ETIMEDOUT) check(result);
  if (interrupted) throw semaphore_interrupted();
  return false;
}

void semaphore::post() {
  std::int32_t units = native_->count.load();
  do {
    if (units == max_count) throw semaphore_error();
  } while (!native_->count.compare_exchange_weak(units, units + 1));
  if (native_->waiters.load() == 0) return;
  // A sleeper registers under the mutex and gives it up only inside
  // pthread_cond_wait: once the mutex is ours, the sleeper can hear the signal.
  // Signalled after the mutex is free, the woken thread does not block on it.
  held_mutex lock(native_->mutex);
  lock.release();
  check(pthread_cond_signal(&native_->changed));
}

void semaphore::interrupt() {
  held_mutex lock(native_->mutex);
  native_->interrupted = true;
  check(pthread_cond_broadcast(&native_->changed));
  lock.release();
}

}  // namespace threadutil
