#include "tests/reliability/failing_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

// glibc's own allocator, under the names it exports for interposers.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

// Live blocks: open addressing with linear probing, deletion by backward
// shift. Static storage: the allocator cannot allocate for itself.
constexpr std::size_t table_size = std::size_t{1} << 17;  // far more than a scenario keeps live
struct slot {
  void* block;
  std::uint64_t mark;  // 0: allocated outside every window
};
slot table[table_size];
std::size_t live_count = 0;

std::atomic_flag table_lock = ATOMIC_FLAG_INIT;

class locked {
 public:
  locked() noexcept {
    while (table_lock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~locked() { table_lock.clear(std::memory_order_release); }
  locked(const locked&) = delete;
  locked& operator=(const locked&) = delete;
};

std::size_t home(const void* block) noexcept {
  auto key = reinterpret_cast<std::uintptr_t>(block);
  key ^= key >> 33;
  key *= 0xff51afd7ed558ccdull;
  key ^= key >> 33;
  return key & (table_size - 1);
}

void insert(void* block, std::uint64_t mark) noexcept {
  std::size_t at = home(block);
  while (table[at].block != nullptr && table[at].block != block) at = (at + 1) & (table_size - 1);
  if (table[at].block == nullptr) ++live_count;
  table[at] = {block, mark};
}

// Returns the block's mark; false when the block is unknown (allocated by a
// path this allocator does not see).
bool erase(void* block, std::uint64_t* mark) noexcept {
  std::size_t at = home(block);
  while (table[at].block != block) {
    if (table[at].block == nullptr) return false;
    at = (at + 1) & (table_size - 1);
  }
  if (mark != nullptr) *mark = table[at].mark;
  --live_count;
  std::size_t hole = at;
  for (std::size_t next = (hole + 1) & (table_size - 1); table[next].block != nullptr;
       next = (next + 1) & (table_size - 1)) {
    const std::size_t wanted = home(table[next].block);
    // Move the entry into the hole unless its home lies cyclically in (hole, next].
    const bool stays = hole <= next ? (wanted > hole && wanted <= next)
                                    : (wanted > hole || wanted <= next);
    if (stays) continue;
    table[hole] = table[next];
    hole = next;
  }
  table[hole] = {nullptr, 0};
  return true;
}

thread_local bool window_opener = false;
bool window_open = false;
failing_allocator::counted_threads window_threads = failing_allocator::counted_threads::this_thread;
std::uint64_t window_fail_at = 0;
bool window_persistent = false;
std::uint64_t window_count = 0;
std::uint64_t window_new_count = 0;
std::uint64_t window_marks = 0;
bool window_failed = false;
bool marking = false;  // from the first window until forget_marks

}  // namespace

// Break here in a debugger to see who is refused, or who frees a block older
// than the marks.
extern "C" __attribute__((noinline)) void failing_allocator_refused() { asm volatile(""); }
extern "C" __attribute__((noinline)) void failing_allocator_freed_unmarked() { asm volatile(""); }

namespace {

// Counts the allocation when the window counts this thread; true when it must fail.
bool must_fail(bool from_new) noexcept {
  if (!window_open) return false;
  const bool opener = window_opener;
  if ((window_threads == failing_allocator::counted_threads::this_thread) != opener) return false;
  ++window_count;
  if (from_new) ++window_new_count;
  if (window_fail_at == 0 || window_count < window_fail_at) return false;
  if (window_count > window_fail_at && !window_persistent) return false;
  window_failed = true;
  failing_allocator_refused();
  return true;
}

std::uint64_t next_mark() noexcept { return marking ? ++window_marks : 0; }

void* allocate(std::size_t size, bool from_new) noexcept {
  {
    const locked lock;
    if (must_fail(from_new)) return nullptr;
  }
  void* block = __libc_malloc(size);
  if (block == nullptr) return nullptr;
  const locked lock;
  insert(block, next_mark());
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  bool unmarked = false;
  {
    const locked lock;
    std::uint64_t mark = 0;
    unmarked = erase(block, &mark) && marking && mark == 0;
  }
  if (unmarked) failing_allocator_freed_unmarked();
  // Poisoned, so that a read after the free sees garbage rather than the old value.
  std::memset(block, 0x5a, malloc_usable_size(block));
  __libc_free(block);
}

void* allocate_aligned(std::size_t alignment, std::size_t size) noexcept {
  {
    const locked lock;
    if (must_fail(false)) return nullptr;
  }
  void* block = __libc_memalign(alignment, size);
  if (block == nullptr) return nullptr;
  const locked lock;
  insert(block, next_mark());
  return block;
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) { return allocate(size, false); }

void free(void* block) { release(block); }

void* calloc(std::size_t count, std::size_t size) {
  {
    const locked lock;
    if (must_fail(false)) return nullptr;
  }
  void* block = __libc_calloc(count, size);
  if (block == nullptr) return nullptr;
  const locked lock;
  insert(block, next_mark());
  return block;
}

// Only growth can fail: no real allocator fails to shrink a block, and Lua
// relies on that.
void* realloc(void* block, std::size_t size) {
  if (block == nullptr) return allocate(size, false);
  if (size == 0) {
    release(block);
    return nullptr;
  }
  const bool grows = size > malloc_usable_size(block);
  if (grows) {
    const locked lock;
    if (must_fail(false)) return nullptr;
  }
  void* moved = __libc_realloc(block, size);
  if (moved == nullptr) return nullptr;
  const locked lock;
  std::uint64_t mark = 0;
  erase(block, &mark);
  insert(moved, grows ? next_mark() : mark);
  return moved;
}

void* memalign(std::size_t alignment, std::size_t size) { return allocate_aligned(alignment, size); }

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return allocate_aligned(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* block = allocate_aligned(alignment, size);
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

}  // extern "C"

void* operator new(std::size_t size) {
  void* block = allocate(size, true);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, true);
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

namespace failing_allocator {

void open_window(counted_threads which, std::uint64_t fail_at, bool persistent) {
  const locked lock;
  window_persistent = persistent;
  window_opener = true;
  window_threads = which;
  window_fail_at = fail_at;
  window_count = 0;
  window_new_count = 0;
  window_failed = false;
  window_open = true;
  marking = true;
}

void close_window() {
  const locked lock;
  window_open = false;
}

std::uint64_t counted() {
  const locked lock;
  return window_count;
}

std::uint64_t counted_new() {
  const locked lock;
  return window_new_count;
}

bool failure_happened() {
  const locked lock;
  return window_failed;
}

std::size_t marked_live_blocks(std::uint64_t* first_ordinal) {
  const locked lock;
  std::size_t count = 0;
  std::uint64_t first = 0;
  for (const slot& s : table) {
    if (s.block == nullptr || s.mark == 0) continue;
    ++count;
    if (first == 0 || s.mark < first) first = s.mark;
  }
  if (first_ordinal != nullptr) *first_ordinal = first;
  return count;
}

void forget_marks() {
  const locked lock;
  for (slot& s : table) s.mark = 0;
  window_marks = 0;
  marking = false;
}

std::size_t live_blocks() {
  const locked lock;
  return live_count;
}

}  // namespace failing_allocator
