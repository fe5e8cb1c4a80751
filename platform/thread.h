// Threads and pauses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A started thread; null when none. Owned by whoever started it until
// close_thread.
using thread_handle = void*;

// Runs on the new thread; the thread then ends with exit code 0.
using thread_main = void (*)(void* argument) noexcept;

// Starts a thread running main(argument) at once, with a stack of
// `stack_size` bytes (0: the system's default). Null when no thread could be
// made; main then never runs.
thread_handle start_thread(thread_main main, void* argument, std::size_t stack_size = 0) noexcept;

// Blocks without time-out until the thread has ended. False when the wait failed.
bool wait_thread(thread_handle thread) noexcept;

// Releases the handle (an unwaited thread runs on, detached). Once per handle.
// False when the release failed.
bool close_thread(thread_handle thread) noexcept;

// Pauses the calling thread for at least `milliseconds`.
void sleep_milliseconds(std::uint32_t milliseconds) noexcept;

}  // namespace platform
