#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace platform {

namespace {

struct posix_thread {
  pthread_t id;
  thread_main main;
  void* argument;
  bool joined = false;
};

extern "C" void* run_thread(void* started) {
  auto* thread = static_cast<posix_thread*>(started);
  thread->main(thread->argument);
  return nullptr;
}

}  // namespace

thread_handle start_thread(thread_main main, void* argument, std::size_t stack_size) noexcept {
  auto* thread = new (std::nothrow) posix_thread{pthread_t{}, main, argument};
  if (thread == nullptr) return nullptr;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete thread;
    return nullptr;
  }
  const bool made = (stack_size == 0 || pthread_attr_setstacksize(&attributes, stack_size) == 0) &&
                    pthread_create(&thread->id, &attributes, run_thread, thread) == 0;
  pthread_attr_destroy(&attributes);
  if (!made) {
    delete thread;
    return nullptr;
  }
  return thread;
}

bool wait_thread(thread_handle handle) noexcept {
  auto* thread = static_cast<posix_thread*>(handle);
  if (thread == nullptr || thread->joined) return false;
  if (pthread_join(thread->id, nullptr) != 0) return false;
  thread->joined = true;
  return true;
}

bool close_thread(thread_handle handle) noexcept {
  auto* thread = static_cast<posix_thread*>(handle);
  if (thread == nullptr) return false;
  // The thread may still read its main and argument, so an unjoined one keeps
  // its record: a small leak rather than a read of freed memory.
  if (!thread->joined) return pthread_detach(thread->id) == 0;
  delete thread;
  return true;
}

void sleep_milliseconds(std::uint32_t milliseconds) noexcept {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
