// The semaphore from a Win32 semaphore and a manual-reset event.
#include "workqueue/semaphore.h"

#include <windows.h>

#include <new>

namespace threadutil {

struct semaphore::native {
  HANDLE handles[2];  // the wait's order: the semaphore first, so a unit wins
};

namespace {

constexpr DWORD semaphore_index = 0;
constexpr DWORD interrupt_index = 1;

}  // namespace

semaphore::semaphore(std::int32_t initial_count) : native_(nullptr) {
  native* made = new (std::nothrow) native;
  if (made == nullptr) throw semaphore_error();
  // Refuses a count below 0 or above the maximum by itself.
  made->handles[semaphore_index] = CreateSemaphoreA(nullptr, initial_count, max_count, nullptr);
  if (made->handles[semaphore_index] == nullptr) {
    delete made;
    throw semaphore_error();
  }
  made->handles[interrupt_index] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (made->handles[interrupt_index] == nullptr) {
    CloseHandle(made->handles[semaphore_index]);
    delete made;
    throw semaphore_error();
  }
  native_ = made;
}

semaphore::~semaphore() {
  CloseHandle(native_->handles[interrupt_index]);
  CloseHandle(native_->handles[semaphore_index]);
  delete native_;
}

void semaphore::wait() {
  // With both signalled, the lowest index is reported and only it changes.
  const DWORD result = WaitForMultipleObjects(2, native_->handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0 + interrupt_index) throw semaphore_interrupted();
  if (result == WAIT_FAILED) throw semaphore_error();
}

// Here a post does end the nap: ReleaseSemaphore costs its call either way.
bool semaphore::nap(std::uint32_t microseconds) {
  const DWORD milliseconds = (microseconds + 999) / 1000;
  const DWORD result = WaitForMultipleObjects(2, native_->handles, FALSE, milliseconds);
  if (result == WAIT_TIMEOUT) return false;
  if (result == WAIT_OBJECT_0 + interrupt_index) throw semaphore_interrupted();
  if (result == WAIT_FAILED) throw semaphore_error();
  return true;
}

void semaphore::post() {
  if (!ReleaseSemaphore(native_->handles[semaphore_index], 1, nullptr)) throw semaphore_error();
}

void semaphore::interrupt() {
  if (!SetEvent(native_->handles[interrupt_index])) throw semaphore_error();
}

}  // namespace threadutil
