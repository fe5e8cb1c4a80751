#include "platform/own_stack.h"

// GCC 12 takes the segment reads of NtCurrentTeb and GetCurrentFiber for
// reads of an empty array.
#pragma GCC diagnostic ignored "-Warray-bounds"

// GetCurrentThreadStackLimits: Windows 8 and Server 2012 on.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0602
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#endif
#include <windows.h>

#include <cstdint>
#include <new>

// Each own stack is a fiber. Windows keeps the stack bounds of the running
// fiber in the thread's information block, which the guard pages and the
// compiler's stack probes rely on: switching the stack pointer by hand would
// leave them describing the wrong stack. Those bounds also answer
// own_stack_left, so no thread-local data is needed: MinGW emulates
// thread_local with an allocation on a thread's first use, and aborts the
// process when that allocation fails.

namespace platform {

struct own_stack {
  std::size_t size;
  void* fiber = nullptr;
  void* caller = nullptr;  // the fiber to switch back to
  stack_body body = nullptr;
  void* argument = nullptr;
  bool running = false;
};

namespace {

// Windows needs some pages at the bottom to raise its own overflow exception.
constexpr std::size_t guard_size = 64 * 1024;

// No thread-local data here: the fiber may resume on another thread, and an
// address of such data computed before a switch would be the old thread's.
void WINAPI fiber_main(void* started) {
  auto* stack = static_cast<own_stack*>(started);
  for (;;) {
    SwitchToFiber(stack->caller);
    stack->body(stack->argument);
  }
}

// The fiber's first run parks it at the top of its loop.
bool start_fiber(own_stack* stack) noexcept {
  const bool converted = IsThreadAFiber() == FALSE;
  stack->caller = converted ? ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH) : GetCurrentFiber();
  if (stack->caller == nullptr) return false;
  SwitchToFiber(stack->fiber);
  if (converted) ConvertFiberToThread();
  return true;
}

}  // namespace

own_stack* make_own_stack(std::size_t size) noexcept {
  auto* stack = new (std::nothrow) own_stack{size};
  if (stack == nullptr) return nullptr;
  stack->fiber = CreateFiberEx(64 * 1024, size, FIBER_FLAG_FLOAT_SWITCH, fiber_main, stack);
  if (stack->fiber == nullptr || !start_fiber(stack)) {
    if (stack->fiber != nullptr) DeleteFiber(stack->fiber);
    delete stack;
    return nullptr;
  }
  return stack;
}

void free_own_stack(own_stack* stack) noexcept {
  if (stack == nullptr) return;
  DeleteFiber(stack->fiber);
  delete stack;
}

void run_on_own_stack(own_stack* stack, stack_body body, void* argument) noexcept {
  if (stack == nullptr || stack->running) {
    body(argument);
    return;
  }
  // A thread that is not a fiber yet becomes one for the call only, and is
  // given back as it came: the web server may have its own plans for it.
  const bool converted = IsThreadAFiber() == FALSE;
  void* const caller = converted ? ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH) : GetCurrentFiber();
  if (caller == nullptr) {
    body(argument);
    return;
  }
  stack->running = true;
  stack->caller = caller;
  stack->body = body;
  stack->argument = argument;
  SwitchToFiber(stack->fiber);
  stack->running = false;
  if (converted) ConvertFiberToThread();
}

// The running fiber's or thread's bounds, which SwitchToFiber keeps current.
std::size_t own_stack_left() noexcept {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  const auto position = reinterpret_cast<ULONG_PTR>(__builtin_frame_address(0));
  const ULONG_PTR floor = low + guard_size;
  return position > floor ? static_cast<std::size_t>(position - floor) : 0;
}

}  // namespace platform
