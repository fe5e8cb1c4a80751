// The semaphore from a mutex, a condition variable, a counter and a flag.
#include "workqueue/semaphore.h"

#include <pthread.h>

#include <new>

namespace threadutil {

struct semaphore::native {
  pthread_mutex_t mutex;
  pthread_cond_t changed;  // signalled on post, broadcast on interrupt
  std::int32_t count;
  bool interrupted;
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

}  // namespace

semaphore::semaphore(std::int32_t initial_count) : native_(nullptr) {
  if (initial_count < 0) throw semaphore_error();
  native* made = new (std::nothrow) native;
  if (made == nullptr) throw semaphore_error();
  if (pthread_mutex_init(&made->mutex, nullptr) != 0) {
    delete made;
    throw semaphore_error();
  }
  if (pthread_cond_init(&made->changed, nullptr) != 0) {
    pthread_mutex_destroy(&made->mutex);
    delete made;
    throw semaphore_error();
  }
  made->count = initial_count;
  made->interrupted = false;
  native_ = made;
}

semaphore::~semaphore() {
  pthread_cond_destroy(&native_->changed);
  pthread_mutex_destroy(&native_->mutex);
  delete native_;
}

void semaphore::wait() {
  held_mutex lock(native_->mutex);
  // A unit wins over the interrupt, however both arrived.
  while (native_->count == 0 && !native_->interrupted) {
    check(pthread_cond_wait(&native_->changed, &native_->mutex));
  }
  if (native_->count == 0) {
    lock.release();
    throw semaphore_interrupted();
  }
  --native_->count;
  lock.release();
}

void semaphore::post() {
  held_mutex lock(native_->mutex);
  if (native_->count == max_count) throw semaphore_error();
  check(pthread_cond_signal(&native_->changed));
  ++native_->count;
  lock.release();
}

void semaphore::interrupt() {
  held_mutex lock(native_->mutex);
  native_->interrupted = true;
  check(pthread_cond_broadcast(&native_->changed));
  lock.release();
}

}  // namespace threadutil
