// An allocator interposed in the test executable: malloc, calloc, realloc,
// free and operator new/delete of every library in the process, the loaded
// module included, come here. It counts allocations, can make exactly one of
// them fail, and tracks every live block to find what a failure leaked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace failing_allocator {

// Whose allocations a window counts: the thread that opened it, or every other.
enum class counted_threads { this_thread, other_threads };

// Starts counting the chosen threads' allocations from 1; the one numbered
// `fail_at` returns null (0: none fails), and with `persistent` every later
// one too. From the first window until
// forget_marks, every block allocated by any thread is marked.
void open_window(counted_threads which, std::uint64_t fail_at, bool persistent = false);

// Stops counting; the window's blocks stay marked.
void close_window();

std::uint64_t counted();       // allocations counted by the last window
std::uint64_t counted_new();   // of them, by operator new
bool failure_happened();       // the last window's failure was handed out

// Marked blocks that are still live, and the smallest mark among them (0 when
// none): the order in which the first leaked block was allocated.
std::size_t marked_live_blocks(std::uint64_t* first_ordinal = nullptr);
void forget_marks();

// Blocks live right now, marked or not.
std::size_t live_blocks();

}  // namespace failing_allocator
