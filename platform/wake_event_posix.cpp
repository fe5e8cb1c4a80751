#include "platform/wake_event.h"

#include <pthread.h>

#include <ctime>
#include <memory>
#include <stdexcept>

namespace platform {

struct wake_event::native {
  pthread_mutex_t mutex;
  pthread_cond_t changed;  // on the steady clock, so that setting the time moves no wait
  bool set = false;        // under the mutex
};

wake_event::wake_event() : native_(nullptr) {
  auto made = std::make_unique<native>();
  pthread_condattr_t attributes;
  if (pthread_condattr_init(&attributes) != 0) throw std::runtime_error("wake_event");
  const bool steady = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                      pthread_cond_init(&made->changed, &attributes) == 0;
  pthread_condattr_destroy(&attributes);
  if (!steady) throw std::runtime_error("wake_event");
  if (pthread_mutex_init(&made->mutex, nullptr) != 0) {
    pthread_cond_destroy(&made->changed);
    throw std::runtime_error("wake_event");
  }
  native_ = made.release();
}

wake_event::~wake_event() {
  pthread_cond_destroy(&native_->changed);
  pthread_mutex_destroy(&native_->mutex);
  delete native_;
}

bool wake_event::wait_for(std::uint32_t milliseconds) noexcept {
  timespec until{};
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(milliseconds / 1000);
  until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&native_->mutex);
  int result = 0;
  while (!native_->set && result == 0)
    result = pthread_cond_timedwait(&native_->changed, &native_->mutex, &until);
  const bool set = native_->set;
  pthread_mutex_unlock(&native_->mutex);
  return set;
}

void wake_event::set() noexcept {
  pthread_mutex_lock(&native_->mutex);
  native_->set = true;
  pthread_cond_broadcast(&native_->changed);
  pthread_mutex_unlock(&native_->mutex);
}

}  // namespace platform
