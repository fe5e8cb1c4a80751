#include "platform/thread.h"

#include <windows.h>
#include <process.h>

#include <new>

namespace platform {

namespace {

struct thread_start {
  thread_main main;
  void* argument;
};

unsigned __stdcall run_thread(void* started) {
  const thread_start start = *static_cast<thread_start*>(started);
  delete static_cast<thread_start*>(started);
  start.main(start.argument);
  return 0;  // returning ends the thread through _endthreadex
}

}  // namespace

thread_handle start_thread(thread_main main, void* argument, std::size_t stack_size) noexcept {
  auto* start = new (std::nothrow) thread_start{main, argument};
  if (start == nullptr) return nullptr;
  const uintptr_t thread = _beginthreadex(nullptr, static_cast<unsigned>(stack_size), run_thread, start,
                                          stack_size == 0 ? 0 : STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) {
    delete start;
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(thread);
}

bool wait_thread(thread_handle thread) noexcept {
  return WaitForSingleObject(thread, INFINITE) != WAIT_FAILED;
}

bool close_thread(thread_handle thread) noexcept {
  return CloseHandle(thread) != 0;
}

void sleep_milliseconds(std::uint32_t milliseconds) noexcept {
  Sleep(milliseconds);
}

}  // namespace platform
