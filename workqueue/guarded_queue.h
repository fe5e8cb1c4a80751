// First-in first-out queue of pointers that any number of threads share: the
// state pool and the record queue.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "workqueue/semaphore.h"

// Stores pointers only: never frees, copies or reads what they point to. The
// owner destroys it only when no thread can still use it.
template <class T>
class guarded_queue {
 public:
  // Starts with `count` items, initial[0] at the front. Throws
  // threadutil::semaphore_error (also for more than 2147483647 items) or
  // std::bad_alloc.
  explicit guarded_queue(T* const* initial = nullptr, std::size_t count = 0);

  guarded_queue(const guarded_queue&) = delete;
  guarded_queue& operator=(const guarded_queue&) = delete;

  // Appends at the back; never waits for a taker. After std::bad_alloc the item
  // is still the caller's; after threadutil::semaphore_error it may have been
  // stored and taken, so the caller must neither free nor reuse it.
  void put(T* item);

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

 private:
  // Holds the lock semaphore; gives it back on every path out.
  class held_lock {
   public:
    explicit held_lock(threadutil::semaphore& lock) : lock_(lock) { lock_.wait(); }
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
    threadutil::semaphore& lock_;
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

  std::deque<T*> items_;
  threadutil::semaphore lock_{1};
  threadutil::semaphore count_;  // one unit per stored item not yet claimed
  std::atomic<std::size_t> stored_{0};  // items_.size(), written under the lock
};

template <class T>
guarded_queue<T>::guarded_queue(T* const* initial, std::size_t count)
    : count_(unit_count(count)) {
  // Not shared yet: no lock, and the count semaphore already counts them.
  items_.assign(initial, initial + count);
  stored_.store(count);
}

template <class T>
void guarded_queue<T>::put(T* item) {
  held_lock lock(lock_);
  items_.push_back(item);
  stored_.store(items_.size());
  lock.release();
  // After the lock is back, so that the woken taker does not wait for it.
  count_.post();
}

template <class T>
T* guarded_queue<T>::take() {
  count_.wait();
  return remove_claimed();
}

template <class T>
bool guarded_queue<T>::take_after_nap(std::uint32_t microseconds, T*& item) {
  if (!count_.nap(microseconds)) return false;
  item = remove_claimed();
  return true;
}

template <class T>
T* guarded_queue<T>::remove_claimed() {
  try {
    held_lock lock(lock_);
    T* const item = items_.front();
    items_.pop_front();
    stored_.store(items_.size());
    try {
      lock.release();
    } catch (const threadutil::semaphore_error&) {
      // The lock is still ours: the item goes back rather than being lost.
      items_.push_front(item);
      stored_.store(items_.size());
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

template <class T>
template <class Each>
void guarded_queue<T>::drain_unshared(Each each) {
  while (!items_.empty()) {
    T* const item = items_.front();
    items_.pop_front();
    stored_.store(items_.size());
    each(item);
  }
}
