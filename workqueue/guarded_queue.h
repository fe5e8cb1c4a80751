// First-in first-out queue of pointers that any number of threads share: the
// state pool and the record queue.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>

#include "workqueue/semaphore.h"

// How a queue keeps its pointers: growing with what is put (the record queue),
// or fixed at the initial items, allocating nothing after construction (the
// state pool, whose items only ever come back).
enum class queue_storage { growing, fixed };

// Thrown by put on a sealed queue; the item is still the caller's.
struct queue_sealed {};

// Stores pointers only: never frees, copies or reads what they point to. The
// owner destroys it only when no thread can still use it. Tests may supply a
// Semaphore that fails on demand.
template <class T, class Semaphore = threadutil::semaphore>
class guarded_queue {
 public:
  // Starts with `count` items, initial[0] at the front. Throws
  // threadutil::semaphore_error (also for more than 2147483647 items) or
  // std::bad_alloc.
  explicit guarded_queue(T* const* initial = nullptr, std::size_t count = 0,
                         queue_storage storage = queue_storage::growing);

  guarded_queue(const guarded_queue&) = delete;
  guarded_queue& operator=(const guarded_queue&) = delete;

  // Appends at the back; never waits for a taker. Throws only when the item was
  // not stored, and then it is still the caller's: threadutil::semaphore_error,
  // std::bad_alloc (growing storage), std::length_error (fixed storage full),
  // queue_sealed.
  // Once stored the item is the queue's: true when a taker was told; false
  // when that failed, and then it waits for a later put's unit or the drain.
  bool put(T* item);

  // Removes and returns the front item, blocking without time-out while the
  // queue is empty. Once interrupted, an empty queue throws
  // threadutil::semaphore_interrupted at once. Throws threadutil::semaphore_error,
  // and then no item has been removed.
  T* take();

  // As take, but on an empty queue sleeps at most `microseconds` without a
  // putter having to wake it (threadutil::semaphore::nap). False, with `item`
  // untouched, when nothing came.
  bool take_after_nap(std::uint32_t microseconds, T*& item);

  // Stored items, read without the lock: a hint that may already be stale.
  std::size_t size() const noexcept { return stored_.load(); }

  // Ends waits on an empty queue for good; stored items can still be taken.
  // Throws threadutil::semaphore_error.
  void interrupt() { count_.interrupt(); }

  // Empties the queue, front first, handing each item to `each`, without the
  // semaphores. Only once no other thread can use the queue; it is then fit
  // only for destruction.
  template <class Each>
  void drain_unshared(Each each);

  // Refuses every later put, then empties the queue under the lock, front
  // first, handing each item to `each`. For the owner once no taker is left,
  // while putters may still come. Throws threadutil::semaphore_error, and then
  // nothing is sealed.
  template <class Each>
  void seal_and_drain(Each each);

 private:
  // Holds the lock semaphore; gives it back on every path out.
  class held_lock {
   public:
    explicit held_lock(Semaphore& lock) : lock_(lock) { lock_.wait(); }
    ~held_lock() {
      if (released_) return;
      try {
        lock_.post();
      } catch (const threadutil::semaphore_error&) {
        // Already failing; nothing more can be done for the lock.
      }
    }
    held_lock(const held_lock&) = delete;
    held_lock& operator=(const held_lock&) = delete;

    void release() {
      released_ = true;
      lock_.post();
    }

   private:
    Semaphore& lock_;
    bool released_ = false;
  };

  // Removes the front item for a taker that holds its unit.
  T* remove_claimed();

  static std::int32_t unit_count(std::size_t count) {
    if (count > static_cast<std::size_t>(threadutil::semaphore::max_count)) {
      throw threadutil::semaphore_error();
    }
    return static_cast<std::int32_t>(count);
  }

  // The ring of stored pointers, under the lock: held_ of them from head_ on.
  // Ring positions wrap by a comparison: cheaper than a division per operation.
  std::size_t slot(std::size_t i) const noexcept {
    const std::size_t at = head_ + i;
    return at >= capacity_ ? at - capacity_ : at;
  }
  void push_back(T* item);  // throws std::bad_alloc or std::length_error
  T* pop_front() noexcept;
  void unpush_back() noexcept { --held_; }
  void unpop_front(T* item) noexcept;

  static constexpr std::size_t first_growing_capacity = 64;

  Semaphore lock_{1};
  Semaphore count_;  // one unit per stored item not yet claimed
  std::unique_ptr<T*[]> ring_;
  std::size_t capacity_ = 0;
  std::size_t head_ = 0;
  std::size_t held_ = 0;
  const queue_storage storage_;
  bool sealed_ = false;  // under the lock
  std::atomic<std::size_t> stored_{0};  // held_, written under the lock
};

template <class T, class Semaphore>
guarded_queue<T, Semaphore>::guarded_queue(T* const* initial, std::size_t count,
                                           queue_storage storage)
    : count_(unit_count(count)), storage_(storage) {
  capacity_ = storage == queue_storage::fixed || count > first_growing_capacity
                  ? count
                  : first_growing_capacity;
  ring_.reset(new T*[capacity_ == 0 ? 1 : capacity_]);
  // Not shared yet: no lock, and the count semaphore already counts them.
  for (std::size_t i = 0; i < count; ++i) ring_[i] = initial[i];
  held_ = count;
  stored_.store(count);
}

template <class T, class Semaphore>
void guarded_queue<T, Semaphore>::push_back(T* item) {
  if (held_ == capacity_) {
    if (storage_ == queue_storage::fixed) throw std::length_error("guarded_queue is full");
    const std::size_t grown = capacity_ * 2;  // growing storage starts above 0
    std::unique_ptr<T*[]> bigger(new T*[grown]);
    for (std::size_t i = 0; i < held_; ++i) bigger[i] = ring_[slot(i)];
    ring_ = std::move(bigger);
    capacity_ = grown;
    head_ = 0;
  }
  ring_[slot(held_)] = item;
  ++held_;
}

template <class T, class Semaphore>
T* guarded_queue<T, Semaphore>::pop_front() noexcept {
  T* const item = ring_[head_];
  if (++head_ == capacity_) head_ = 0;
  --held_;
  return item;
}

template <class T, class Semaphore>
void guarded_queue<T, Semaphore>::unpop_front(T* item) noexcept {
  head_ = (head_ == 0 ? capacity_ : head_) - 1;
  ring_[head_] = item;
  ++held_;
}

template <class T, class Semaphore>
bool guarded_queue<T, Semaphore>::put(T* item) {
  held_lock lock(lock_);
  if (sealed_) throw queue_sealed{};
  push_back(item);
  stored_.store(held_);
  try {
    lock.release();
  } catch (const threadutil::semaphore_error&) {
    // Still inside the lock: the item comes out again and stays the caller's.
    unpush_back();
    stored_.store(held_);
    throw;
  }
  // After the lock is back, so that the woken taker does not wait for it.
  try {
    count_.post();
  } catch (const threadutil::semaphore_error&) {
    return false;
  }
  return true;
}

template <class T, class Semaphore>
T* guarded_queue<T, Semaphore>::take() {
  count_.wait();
  return remove_claimed();
}

template <class T, class Semaphore>
bool guarded_queue<T, Semaphore>::take_after_nap(std::uint32_t microseconds, T*& item) {
  if (!count_.nap(microseconds)) return false;
  item = remove_claimed();
  return true;
}

template <class T, class Semaphore>
T* guarded_queue<T, Semaphore>::remove_claimed() {
  try {
    held_lock lock(lock_);
    T* const item = pop_front();
    stored_.store(held_);
    try {
      lock.release();
    } catch (const threadutil::semaphore_error&) {
      // The lock is still ours: the item goes back rather than being lost.
      unpop_front(item);
      stored_.store(held_);
      throw;
    }
    return item;
  } catch (const threadutil::semaphore_error&) {
    try {
      count_.post();  // the claimed unit goes back with its item
    } catch (const threadutil::semaphore_error&) {
    }
    throw;
  }
}

template <class T, class Semaphore>
template <class Each>
void guarded_queue<T, Semaphore>::drain_unshared(Each each) {
  while (held_ != 0) {
    T* const item = pop_front();
    stored_.store(held_);
    each(item);
  }
}

template <class T, class Semaphore>
template <class Each>
void guarded_queue<T, Semaphore>::seal_and_drain(Each each) {
  held_lock lock(lock_);
  sealed_ = true;
  while (held_ != 0) {
    T* const item = pop_front();
    stored_.store(held_);
    each(item);
  }
}
