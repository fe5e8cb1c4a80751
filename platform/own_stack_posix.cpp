#include "platform/own_stack.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#if !defined(__x86_64__)
#error "own stacks switch with x86-64 code; add a switch for this processor"
#endif

// Calls function(argument) with the stack pointer at `top` and puts the old
// one back afterwards: a call, not a context switch, so no registers or
// signal masks are saved and the cost is a few instructions. %rbp keeps the
// caller's frame, so debuggers and unwinders walk from one stack to the other.
extern "C" void quillharbor_call_on_stack(void* argument, void (*function)(void*), void* top);
asm(R"(
  .text
  .p2align 4
  .hidden quillharbor_call_on_stack
  .globl quillharbor_call_on_stack
  .type quillharbor_call_on_stack, @function
quillharbor_call_on_stack:
  .cfi_startproc
  pushq %rbp
  .cfi_def_cfa_offset 16
  .cfi_offset %rbp, -16
  movq %rsp, %rbp
  .cfi_def_cfa_register %rbp
  movq %rdx, %rsp
  callq *%rsi
  movq %rbp, %rsp
  popq %rbp
  .cfi_def_cfa %rsp, 8
  retq
  .cfi_endproc
  .size quillharbor_call_on_stack, .-quillharbor_call_on_stack
)");

namespace platform {

struct own_stack {
  void* mapping;
  std::size_t mapped;
  char* floor;  // lowest usable byte, above the guard
  char* top;
  bool running = false;
#if defined(__SANITIZE_THREAD__)
  void* fiber = nullptr;  // the sanitizer's view of the stack
#endif
};

namespace {

// Larger than any one frame (a Lua buffer is 8 KiB), so no frame steps over it.
constexpr std::size_t guard_size = 64 * 1024;

// Initial-exec: the module reserves its slot when it is loaded (a load that
// cannot fails then), so a first use on a thread never allocates.
__attribute__((tls_model("initial-exec"))) thread_local const char* current_floor = nullptr;

struct entry {
  stack_body body;
  void* argument;
  const void* caller_bottom = nullptr;
  std::size_t caller_size = 0;
};

extern "C" void enter_own_stack(void* started) {
  auto* e = static_cast<entry*>(started);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_finish_switch_fiber(nullptr, &e->caller_bottom, &e->caller_size);
#endif
  e->body(e->argument);
#if defined(__SANITIZE_ADDRESS__)
  // Null: nothing of this entry outlives it.
  __sanitizer_start_switch_fiber(nullptr, e->caller_bottom, e->caller_size);
#endif
}

}  // namespace

own_stack* make_own_stack(std::size_t size) noexcept {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t mapped = (size + guard_size + page - 1) / page * page;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  auto* stack = new (std::nothrow) own_stack{mapping, mapped, static_cast<char*>(mapping) + guard_size,
                                             static_cast<char*>(mapping) + mapped};
  if (stack == nullptr || mprotect(mapping, guard_size, PROT_NONE) != 0) {
    delete stack;
    munmap(mapping, mapped);
    return nullptr;
  }
#if defined(__SANITIZE_THREAD__)
  stack->fiber = __tsan_create_fiber(0);
#endif
  return stack;
}

void free_own_stack(own_stack* stack) noexcept {
  if (stack == nullptr) return;
#if defined(__SANITIZE_THREAD__)
  __tsan_destroy_fiber(stack->fiber);
#endif
  munmap(stack->mapping, stack->mapped);
  delete stack;
}

void run_on_own_stack(own_stack* stack, stack_body body, void* argument) noexcept {
  if (stack == nullptr || stack->running) {
    body(argument);
    return;
  }
  stack->running = true;
  const char* const caller_floor = current_floor;
  current_floor = stack->floor;
  entry e{body, argument};
#if defined(__SANITIZE_ADDRESS__)
  void* fake_stack = nullptr;
  __sanitizer_start_switch_fiber(&fake_stack, stack->floor, static_cast<std::size_t>(stack->top - stack->floor));
#endif
#if defined(__SANITIZE_THREAD__)
  void* const caller_fiber = __tsan_get_current_fiber();
  __tsan_switch_to_fiber(stack->fiber, 0);
#endif
  quillharbor_call_on_stack(&e, enter_own_stack, stack->top);
#if defined(__SANITIZE_THREAD__)
  __tsan_switch_to_fiber(caller_fiber, 0);
#endif
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_finish_switch_fiber(fake_stack, nullptr, nullptr);
#endif
  current_floor = caller_floor;
  stack->running = false;
}

std::size_t own_stack_left() noexcept {
  if (current_floor == nullptr) return SIZE_MAX;
  const char* const position = static_cast<const char*>(__builtin_frame_address(0));
  return position > current_floor ? static_cast<std::size_t>(position - current_floor) : 0;
}

}  // namespace platform
