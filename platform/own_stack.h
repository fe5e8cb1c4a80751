// Stacks of their own, for code whose stack use must not depend on the
// calling thread's: a web server's request threads may have small ones.
#pragma once

#include <cstddef>

namespace platform {

// A reserved stack, committed as it is used, with a guard region below it.
// Used by one thread at a time; owned by whoever made it until free_own_stack.
struct own_stack;

// Reserves a stack of `size` bytes. Null when the system cannot.
own_stack* make_own_stack(std::size_t size) noexcept;

// Releases `stack`, which nothing may be running on. Null is ignored.
void free_own_stack(own_stack* stack) noexcept;

using stack_body = void (*)(void* argument) noexcept;

// Runs body(argument) on `stack`, on the calling thread, and returns when it
// has. Called again from code already on `stack`, or when the switch cannot be
// made, it runs body on the current stack instead. The body must not leave by
// an exception or a long jump.
void run_on_own_stack(own_stack* stack, stack_body body, void* argument) noexcept;

// Bytes the caller may still use of the own stack it runs on. On any other
// stack: SIZE_MAX where the system cannot tell cheaply (POSIX), that stack's
// own room where it can (Windows). Allocates nothing.
std::size_t own_stack_left() noexcept;

}  // namespace platform
